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
  // The thread reads at least this much at once (less only at the end), small enough that the
  // stretch is still in the processor's cache from the writer when it is hashed.
  static constexpr std::size_t kStretch = 262144;

 private:
  void Follow();  // the hashing thread's body

  Sha256 hasher_;
  const std::filesystem::path file_;
  const std::uint64_t from_;

  std::mutex lock_;
  std::condition_variable changed_;
  std::uint64_t written_;     // the file's length, as the writer reported it
  std::uint64_t wanted_ = 0;  // while following_: the length that makes a stretch
  bool following_ = false;    // the thread waits for written_ to reach wanted_
  bool closing_ = false;      // nothing more will be written
  bool abandoned_ = false;    // and what isn't hashed yet isn't wanted
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace launcher
