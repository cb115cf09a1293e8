#include "launcher/transfer/written_file_sha256.h"

#include <algorithm>
#include <fstream>
#include <utility>
#include <vector>

#include "launcher/text/failure.h"

namespace launcher {

WrittenFileSha256::WrittenFileSha256(Sha256 hasher, std::filesystem::path file, std::uint64_t from,
                                     std::uint64_t expected)
    : hasher_(std::move(hasher)), file_(std::move(file)), written_(from) {
  if (expected >= from && expected - from >= kFollowFrom) {
    thread_ = std::thread([this, from] { Follow(from); });
  }
}

WrittenFileSha256::~WrittenFileSha256() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard guard(lock_);
    closing_ = true;
    abandoned_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void WrittenFileSha256::Add(const std::uint8_t* bytes, std::size_t count) {
  if (!thread_.joinable()) {
    hasher_.Add(bytes, count);
    return;
  }
  bool wake = false;
  {
    const std::lock_guard guard(lock_);
    if (error_) std::rethrow_exception(error_);
    written_ += count;
    if (written_ >= wanted_) {
      wanted_ = kNotWaiting;  // one wake-up per wait
      wake = true;
    }
  }
  if (wake) changed_.notify_all();
}

std::wstring WrittenFileSha256::FinishHex() {
  if (thread_.joinable()) {
    {
      const std::lock_guard guard(lock_);
      closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
    if (error_) std::rethrow_exception(error_);
  }
  return hasher_.FinishHex();
}

void WrittenFileSha256::Follow(std::uint64_t from) {
  std::ifstream in;
  std::vector<char> buffer(kStretch);
  std::uint64_t hashed = from;
  try {
    for (;;) {
      std::size_t count = 0;
      {
        std::unique_lock guard(lock_);
        const std::uint64_t stretch = hashed + kStretch;
        wanted_ = stretch;
        changed_.wait(guard, [&] { return written_ >= stretch || closing_; });
        wanted_ = kNotWaiting;
        if (abandoned_ || written_ == hashed) return;
        // One stretch at a time, however far behind: an abandoned download ends the thread soon.
        count = static_cast<std::size_t>(std::min<std::uint64_t>(kStretch, written_ - hashed));
      }
      if (!in.is_open()) {
        in.open(file_, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(hashed));
      }
      if (!in.read(buffer.data(), static_cast<std::streamsize>(count))) {
        throw Failure{L"The download couldn't be read back for its check"};
      }
      hasher_.Add(buffer.data(), count);
      hashed += count;
    }
  } catch (...) {
    const std::lock_guard guard(lock_);
    error_ = std::current_exception();
  }
}

}  // namespace launcher
