#pragma once
// A release archive on its way into the staging folder: decoded by the launcher, every entry
// looked at before the system's tar sees it, and tar given plain tar with plain modes (0644,
// 0755 for executables and folders; no owners, no setuid or setgid bits). An entry the store
// can't hold refuses the release before tar sees it: a link, a device or a pipe; a name no
// folder can hold (climbing, absolute, a Windows device such as COM1); a name twice, in any
// letter case, or a file where a folder must be (one Windows folder can't hold both). With the
// release's file list, every file must be one it names at its size, every folder one its paths
// lead through, and what tar is given can't grow past what the list announces.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "launcher/feed/file_list.h"
#include "launcher/platform/run_program.h"
#include "launcher/store/archive_decoder.h"
#include "launcher/store/tar_entries.h"

namespace launcher {

class ArchiveStream {
 public:
  // Unpacks into the existing `folder`; `listed` (kept by reference) may be empty.
  ArchiveStream(std::filesystem::path folder, const std::vector<Listed>& listed);
  ~ArchiveStream();  // a stream that didn't finish ends tar, which stops at the cut archive
  ArchiveStream(const ArchiveStream&) = delete;
  ArchiveStream& operator=(const ArchiveStream&) = delete;

  // The archive's bytes at `offset`, in order from its start; bytes that come again (an attempt
  // that went over them once more) are skipped. Throws Failure "The release couldn't be
  // unpacked" (the entry and why in its detail) for an archive or entry that is refused, or when
  // tar stopped taking its input.
  void Add(std::uint64_t offset, const std::uint8_t* bytes, std::size_t count);

  // How many of the archive's bytes went in; read from any thread.
  std::uint64_t Fed() const { return fed_; }

  // The archive has come whole: waits for tar's end. Throws Failure "The release couldn't be
  // unpacked" when the archive ended early or tar failed, and ": the system's tar is missing"
  // (Windows: "Windows' tar") when it can't be started.
  void Finish();

 private:
  class Rules;

  void PassOn(std::string_view bytes);

  std::filesystem::path folder_;
  std::unique_ptr<Rules> rules_;
  TarEntries reader_;
  ArchiveDecoder decoder_;
  FedProgram tar_;
  std::uint64_t passedOn_ = 0;
  std::atomic<std::uint64_t> fed_{0};
};

// The archive in `file` through an ArchiveStream into `folder`: the way for one whose bytes
// weren't used as they arrived. Throws as ArchiveStream does, and Failure "The release couldn't
// be unpacked" when the file can't be read.
void UnpackFile(const std::filesystem::path& file, const std::filesystem::path& folder,
                const std::vector<Listed>& listed);

}  // namespace launcher
