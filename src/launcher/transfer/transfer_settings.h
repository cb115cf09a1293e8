#pragma once
// The limits every transfer of the process keeps to: how long a small document may take, how
// slow a download may get, how often a transient fault is tried again, and the bandwidth all
// downloads share. Set once at start-up (launcher.json's "maxDownloadKBps"), before any transfer
// begins, and read by every transfer thread afterwards; tests shorten the waits.

#include <chrono>
#include <cstdint>
#include <vector>

namespace launcher {

struct TransferSettings {
  // The feed, its signature and the file list must arrive whole within this long.
  std::chrono::milliseconds textWithin{60000};
  // A download that receives less than this many bytes a second, over this long, has stalled: it
  // is cut off and tried again from where it stood.
  std::uint64_t slowestRate = 16384;
  std::chrono::milliseconds slowWindow{60000};
  // The waits before each new attempt after a transient fault; a Retry-After up to the longest
  // is honoured instead.
  std::vector<std::chrono::milliseconds> retryWaits{
      std::chrono::seconds(1), std::chrono::seconds(2), std::chrono::seconds(4)};
  std::chrono::milliseconds longestRetryAfter{60000};
  // Bytes a second that all bodies together may arrive at; 0: no limit.
  std::uint64_t bandwidthLimit = 0;
};

// The process's settings.
TransferSettings& Transfers();

// When the downloads of the update under way must have ended: `bytes` at the slowest rate and
// one slow window more, so that an update that crawls below that rate on average ends, however
// its transfers go. Set by the thread that starts an update's transfers, before it starts them,
// and read by every transfer thread; `bytes` 0 sets none.
void SetUpdateDeadline(std::uint64_t bytes);
// Whether the deadline of the update under way has passed.
bool PastUpdateDeadline();

// The deadline of `bytes` for as long as this lives, and none after.
class UpdateDeadline {
 public:
  explicit UpdateDeadline(std::uint64_t bytes) { SetUpdateDeadline(bytes); }
  ~UpdateDeadline() { SetUpdateDeadline(0); }
  UpdateDeadline(const UpdateDeadline&) = delete;
  UpdateDeadline& operator=(const UpdateDeadline&) = delete;
};

}  // namespace launcher
