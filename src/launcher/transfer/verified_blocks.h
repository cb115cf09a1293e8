#pragma once
// A download checked block by block against its signed block list while it is written: a thread
// of its own reads each block back from the file once the writer is past it, checks its SHA-256
// and only then hands it on, in order, to whoever uses the bytes as they arrive (tar, through
// the archive stream). A block that isn't the list's is fetched again alone by a Range request;
// one that still isn't fails the download. So nothing unchecked is ever handed on, and the thread
// that receives and writes never waits for the checks. The block list, itself named by digest in
// the signed feed, stands for the whole file's digest: every byte is in one of its blocks.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <thread>

#include "launcher/transfer/block_list.h"

namespace launcher {

class VerifiedBlocks {
 public:
  // Checked bytes, in order from the file's start; what it throws fails the download.
  using Verified =
      std::function<void(std::uint64_t offset, const std::uint8_t* bytes, std::size_t count)>;
  // The file's bytes [offset, offset + length) fetched again, straight from the server.
  using Refetch = std::function<std::string(std::uint64_t offset, std::uint64_t length)>;

  // `file` holds `written` bytes already (kept from an earlier attempt) of the `size` the list
  // covers; they are checked and handed on first, but for the first `handedOn` (a whole number of
  // blocks), which were handed on before.
  VerifiedBlocks(const BlockList& blocks, std::filesystem::path file, std::uint64_t written,
                 std::uint64_t size, std::uint64_t handedOn, Verified verified, Refetch refetch);
  ~VerifiedBlocks();  // stops at once, leaving the rest unchecked, and ends the thread
  VerifiedBlocks(const VerifiedBlocks&) = delete;
  VerifiedBlocks& operator=(const VerifiedBlocks&) = delete;

  // The writer appended `count` bytes. Never waits; throws what the checking thread failed with.
  void Add(std::uint64_t count);
  // Waits until every block is checked and handed on. Call once, after the writer's last block.
  // Throws Failure when the file couldn't be read back, WrongBytes when a block isn't the list's,
  // and whatever `verified` threw.
  void Finish();

 private:
  void Follow();  // the checking thread's body
  // The block at `index`, `length` bytes, read back from `in` or fetched again when it isn't the
  // list's.
  std::string Checked(std::size_t index, std::uint64_t length, std::istream& in);

  const BlockList& blocks_;
  const std::filesystem::path file_;
  const std::uint64_t size_;
  const std::size_t first_;  // the first block to check
  Verified verified_;
  Refetch refetch_;

  std::mutex lock_;
  std::condition_variable changed_;
  std::uint64_t written_;  // the file's length, as the writer reported it
  std::uint64_t wanted_ = std::numeric_limits<std::uint64_t>::max();  // what the thread waits for
  bool closing_ = false;    // nothing more will be written
  bool abandoned_ = false;  // and what isn't checked yet isn't wanted
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace launcher
