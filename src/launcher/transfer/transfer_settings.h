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
  // A download that receives less than this many bytes a second, over this long, is cut off.
  std::uint64_t slowestRate = 1024;
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

}  // namespace launcher
