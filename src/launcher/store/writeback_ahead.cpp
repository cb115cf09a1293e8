#include "launcher/store/writeback_ahead.h"

#include <chrono>

#include "launcher/text/safe_join.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

// A file's part of a tar archive: its header and its bytes padded to whole blocks.
std::uint64_t InTar(std::uint64_t size) {
  return 512 + (size + 511) / 512 * 512;
}

}  // namespace

WritebackAhead::WritebackAhead(std::filesystem::path staging, const std::vector<Listed>& listed,
                               std::uint64_t archiveSize, Start start)
    : staging_(std::move(staging)), listed_(listed), start_(std::move(start)) {
  if (listed_.empty() || archiveSize == 0) return;
  std::uint64_t tarSize = 0;
  for (const Listed& entry : listed_) tarSize += InTar(entry.size);
  tarPerArchiveByte_ = static_cast<double>(tarSize) / static_cast<double>(archiveSize);
  thread_ = std::thread([this] { Run(); });
}

WritebackAhead::~WritebackAhead() {
  {
    const std::lock_guard guard(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void WritebackAhead::Run() {
  std::size_t next = 0;
  std::uint64_t end = 0;  // where the files before `next` end in the archive, at the least
  std::unique_lock guard(lock_);
  try {
    while (!stop_ && next < listed_.size()) {
      guard.unlock();
      // A compressed archive runs through tar faster than it arrives: scaled to tar's bytes.
      const double position = static_cast<double>(fed_.load()) * tarPerArchiveByte_;
      for (; next < listed_.size(); ++next) {
        const std::uint64_t fileEnd = end + InTar(listed_[next].size);
        if (static_cast<double>(fileEnd + kTarLag) > position) break;
        const std::filesystem::path file = SafeJoin(staging_, Widen(listed_[next].path));
        if (!file.empty()) start_(file);
        end = fileEnd;
      }
      guard.lock();
      wake_.wait_for(guard, std::chrono::milliseconds(20), [this] { return stop_; });
    }
  } catch (...) {
    // A head start that can't go on leaves the rest to the flush.
  }
}

}  // namespace launcher
