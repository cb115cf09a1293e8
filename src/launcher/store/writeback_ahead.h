#pragma once
// While an archive streams through tar, the files tar has finished are sent on their way to the
// disk, on a thread of its own, so that the flush before the switch finds most of the release
// already written instead of all of it. Only a head start: a file sent too early or not at all is
// written by that flush like any other, and nothing here can fail an install.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "launcher/feed/file_list.h"
#include "launcher/platform/disk_writes.h"

namespace launcher {

class WritebackAhead {
 public:
  using Start = std::function<void(const std::filesystem::path&)>;

  // `listed` in the archive's order, which the publisher keeps; `archiveSize` maps how far the
  // archive went through tar onto the list, compressed or not. Starts no thread for an empty list.
  WritebackAhead(std::filesystem::path staging, const std::vector<Listed>& listed,
                 std::uint64_t archiveSize, Start start = StartWritingToDisk);
  // Stops at once and waits for the thread.
  ~WritebackAhead();
  WritebackAhead(const WritebackAhead&) = delete;
  WritebackAhead& operator=(const WritebackAhead&) = delete;

  // The archive's first `fed` bytes have gone to tar.
  void Reached(std::uint64_t fed) { fed_ = fed; }

  // What tar may still hold unwritten. A file counts as done once the archive has gone this far
  // past where the file ends at the least (one header and the padded bytes of each file up to it).
  static constexpr std::uint64_t kTarLag = std::uint64_t{4} << 20;

 private:
  void Run();

  std::filesystem::path staging_;
  const std::vector<Listed>& listed_;
  double tarPerArchiveByte_ = 0;  // above 1 for a compressed archive
  Start start_;
  std::atomic<std::uint64_t> fed_{0};
  std::mutex lock_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace launcher
