#include "launcher/transfer/verified_blocks.h"

#include <algorithm>
#include <fstream>
#include <utility>

#include "launcher/text/failure.h"
#include "launcher/transfer/interruptions.h"
#include "launcher/transfer/sha256.h"

namespace launcher {

namespace {

// Fetched again this often before a block counts as not the list's.
constexpr int kRefetches = 2;

}  // namespace

VerifiedBlocks::VerifiedBlocks(const BlockList& blocks, std::filesystem::path file,
                               std::uint64_t written, std::uint64_t size, std::uint64_t handedOn,
                               Verified verified, Refetch refetch)
    : blocks_(blocks),
      file_(std::move(file)),
      size_(size),
      first_(static_cast<std::size_t>(handedOn / blocks.blockSize)),
      verified_(std::move(verified)),
      refetch_(std::move(refetch)),
      written_(written),
      thread_([this] { Follow(); }) {}

VerifiedBlocks::~VerifiedBlocks() {
  {
    const std::lock_guard guard(lock_);
    closing_ = true;
    abandoned_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void VerifiedBlocks::Add(std::uint64_t count) {
  bool wake = false;
  {
    const std::lock_guard guard(lock_);
    if (error_) std::rethrow_exception(error_);
    written_ += count;
    if (written_ >= wanted_) {
      wanted_ = std::numeric_limits<std::uint64_t>::max();  // one wake-up per wait
      wake = true;
    }
  }
  if (wake) changed_.notify_all();
}

void VerifiedBlocks::Finish() {
  {
    const std::lock_guard guard(lock_);
    closing_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (error_) std::rethrow_exception(error_);
}

void VerifiedBlocks::Follow() {
  std::ifstream in;
  try {
    for (std::size_t index = first_; index < blocks_.blocks.size(); ++index) {
      const std::uint64_t offset = index * blocks_.blockSize;
      const std::uint64_t length = std::min(blocks_.blockSize, size_ - offset);
      {
        std::unique_lock guard(lock_);
        wanted_ = offset + length;
        changed_.wait(guard, [&] { return written_ >= offset + length || closing_; });
        wanted_ = std::numeric_limits<std::uint64_t>::max();
        // Abandoned, or a file that ended short: the download says what went wrong.
        if (abandoned_ || written_ < offset + length) return;
      }
      if (!in.is_open()) in.open(file_, std::ios::binary);
      in.clear();
      in.seekg(static_cast<std::streamoff>(offset));
      const std::string block = Checked(index, length, in);
      verified_(offset, reinterpret_cast<const std::uint8_t*>(block.data()), block.size());
    }
  } catch (...) {
    const std::lock_guard guard(lock_);
    error_ = std::current_exception();
  }
}

std::string VerifiedBlocks::Checked(std::size_t index, std::uint64_t length, std::istream& in) {
  std::string block(static_cast<std::size_t>(length), '\0');
  if (!in.read(block.data(), static_cast<std::streamsize>(length))) {
    throw Failure{L"The download couldn't be read back for its check"};
  }
  const Digest& wanted = blocks_.blocks[index];
  for (int attempt = 0; DigestOf(block) != wanted; ++attempt) {
    // Spoiled on the way, or written over by a download that started again: this block alone.
    if (attempt == kRefetches) {
      throw WrongBytes{
          {L"The download isn't the release the update server names: its SHA-256 differs"}};
    }
    block = refetch_(index * blocks_.blockSize, length);
  }
  return block;
}

}  // namespace launcher
