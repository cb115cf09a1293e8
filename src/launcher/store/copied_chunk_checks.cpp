#include "launcher/store/copied_chunk_checks.h"

#include <algorithm>

#include "launcher/platform/file_assembly.h"
#include "launcher/transfer/sha256.h"

namespace launcher {

CopiedChunkChecks::CopiedChunkChecks(const FileAssembly& file) : file_(file) {
  // SHA-256 is what the copy waits for: every core hashes, the kernel copies meanwhile.
  const std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
  try {
    for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  } catch (...) {
    Stop();
    throw;
  }
}

CopiedChunkChecks::~CopiedChunkChecks() {
  Stop();
}

void CopiedChunkChecks::Stop() {
  {
    const std::lock_guard guard(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}

void CopiedChunkChecks::Add(std::uint64_t offset, std::uint64_t size, const Digest& expected) {
  {
    const std::lock_guard guard(lock_);
    queued_.push_back({offset, size, expected});
  }
  changed_.notify_one();
}

bool CopiedChunkChecks::Failed() {
  const std::lock_guard guard(lock_);
  return failed_;
}

bool CopiedChunkChecks::AllHold() {
  std::unique_lock lock(lock_);
  changed_.wait(lock, [&] { return failed_ || (queued_.empty() && running_ == 0); });
  return !failed_;
}

void CopiedChunkChecks::Work() {
  std::vector<char> buffer;
  for (;;) {
    Check check{};
    {
      std::unique_lock lock(lock_);
      changed_.wait(lock, [&] { return stopping_ || failed_ || !queued_.empty(); });
      if (stopping_ || failed_) return;
      check = queued_.front();
      queued_.pop_front();
      ++running_;
    }
    bool holds = false;
    try {
      holds = Holds(check, buffer);
    } catch (...) {  // no hasher or no memory: the chunk isn't proven
    }
    {
      const std::lock_guard guard(lock_);
      --running_;
      if (!holds) failed_ = true;
    }
    changed_.notify_all();
  }
}

bool CopiedChunkChecks::Holds(const Check& check, std::vector<char>& buffer) const {
  buffer.resize(kHashBufferSize);
  Sha256 hasher;
  for (std::uint64_t done = 0; done < check.size;) {
    const auto piece =
        static_cast<std::size_t>(std::min<std::uint64_t>(check.size - done, buffer.size()));
    if (!file_.ReadBack(check.offset + done, buffer.data(), piece)) return false;
    hasher.Add(buffer.data(), piece);
    done += piece;
  }
  return Digest{hasher.Finish()} == check.expected;
}

}  // namespace launcher
