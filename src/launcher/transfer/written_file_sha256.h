#pragma once
// The SHA-256 of a file while a download writes it. The writer reports each block it appended; a
// thread of its own reads those stretches back from the system's cache, right behind the writer,
// and hashes them. So the thread that receives and writes does what a plain copy does and no
// more: it neither copies its blocks for the hash nor ever waits for it. What is hashed is the
// file as it stands, the bytes that will be used. Short remainders are hashed from the writer's
// blocks on the writer's thread: a thread isn't worth it for them.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <limits>
#include <mutex>
#include <string>
#include <thread>

#include "launcher/transfer/sha256.h"

namespace launcher {

class WrittenFileSha256 {
 public:
  // Continues `hasher`, which holds the first `from` bytes of `file`; the file is open for
  // appending, and `expected` bytes in all are coming. From kFollowFrom bytes still to come, the
  // hashing runs on a thread of its own.
  WrittenFileSha256(Sha256 hasher, std::filesystem::path file, std::uint64_t from,
                    std::uint64_t expected);
  ~WrittenFileSha256();  // stops reading, leaving the rest unhashed, and ends the thread
  WrittenFileSha256(const WrittenFileSha256&) = delete;
  WrittenFileSha256& operator=(const WrittenFileSha256&) = delete;

  // `count` bytes, these, were just appended to the file. Never waits for the hash; throws
  // Failure when the hashing thread has already failed.
  void Add(const std::uint8_t* bytes, std::size_t count);
  // Waits until every byte added is hashed. Call once, after the writer's last block. Throws
  // Failure when the file couldn't be read back or hashed.
  std::wstring FinishHex();

  static constexpr std::uint64_t kFollowFrom = 4194304;
  // The thread reads the file in stretches of this size, the last one shorter, each once the
  // writer is past it: small enough to be still in the processor's cache from the writer.
  static constexpr std::size_t kStretch = 262144;

 private:
  static constexpr std::uint64_t kNotWaiting = std::numeric_limits<std::uint64_t>::max();

  void Follow(std::uint64_t from);  // the hashing thread's body

  Sha256 hasher_;
  const std::filesystem::path file_;

  std::mutex lock_;
  std::condition_variable changed_;
  std::uint64_t written_;               // the file's length, as the writer reported it
  std::uint64_t wanted_ = kNotWaiting;  // the length the thread waits for
  bool closing_ = false;                // nothing more will be written
  bool abandoned_ = false;              // and what isn't hashed yet isn't wanted
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace launcher
