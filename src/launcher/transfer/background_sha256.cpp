#include "launcher/transfer/background_sha256.h"

#include <cstring>
#include <utility>

namespace launcher {

BackgroundSha256::BackgroundSha256(Sha256 hasher, std::uint64_t expected)
    : hasher_(std::move(hasher)), background_(expected >= kBackgroundFrom) {
  if (!background_) return;
  ring_.resize(kSlotSize * kSlots);
  thread_ = std::thread([this] { HashAll(); });
}

BackgroundSha256::~BackgroundSha256() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard guard(lock_);
    closing_ = true;
    abandoned_ = true;  // what is queued isn't hashed
  }
  changed_.notify_all();
  thread_.join();
}

void BackgroundSha256::Add(const std::uint8_t* bytes, std::size_t count) {
  if (!background_) {
    hasher_.Add(bytes, count);
    return;
  }
  while (count > 0) {
    if (filling_ == 0) {
      // The next slot must be free: the hashing thread is at most kSlots - 1 behind.
      std::unique_lock guard(lock_);
      changed_.wait(guard, [this] { return published_ - hashed_ < kSlots || error_; });
      if (error_) std::rethrow_exception(error_);
    }
    std::uint8_t* slot = ring_.data() + (published_ % kSlots) * kSlotSize;
    const std::size_t part = std::min(count, kSlotSize - filling_);
    std::memcpy(slot + filling_, bytes, part);
    filling_ += part;
    bytes += part;
    count -= part;
    if (filling_ == kSlotSize) Publish();
  }
}

void BackgroundSha256::Publish() {
  {
    const std::lock_guard guard(lock_);
    lengths_[published_ % kSlots] = filling_;
    ++published_;
  }
  filling_ = 0;
  changed_.notify_all();
}

std::wstring BackgroundSha256::FinishHex() {
  if (!background_) return hasher_.FinishHex();
  if (filling_ > 0) Publish();
  {
    std::unique_lock guard(lock_);
    closing_ = true;
    changed_.notify_all();
    changed_.wait(guard, [this] { return hashed_ == published_ || error_; });
  }
  thread_.join();
  if (error_) std::rethrow_exception(error_);
  return hasher_.FinishHex();
}

void BackgroundSha256::HashAll() {
  for (;;) {
    std::size_t index = 0;
    std::size_t length = 0;
    {
      std::unique_lock guard(lock_);
      changed_.wait(guard, [this] { return hashed_ < published_ || closing_; });
      if (abandoned_ || hashed_ == published_) return;
      index = hashed_ % kSlots;
      length = lengths_[index];
    }
    try {
      hasher_.Add(ring_.data() + index * kSlotSize, length);
    } catch (...) {
      const std::lock_guard guard(lock_);
      error_ = std::current_exception();
      changed_.notify_all();
      return;
    }
    {
      const std::lock_guard guard(lock_);
      ++hashed_;
    }
    changed_.notify_all();
  }
}

}  // namespace launcher
