#include "launcher/platform/locked_files.h"

#include <algorithm>
#include <thread>

#include "launcher/platform/folders.h"

namespace launcher {

bool RetryWhileLocked(const std::function<bool(std::error_code&)>& operation, Deadline deadline,
                      std::error_code& error) {
  std::chrono::milliseconds pause(20);
  for (;;) {
    error.clear();
    if (operation(error)) return true;
    const auto now = std::chrono::steady_clock::now();
    if (!IsLockedError(error) || now >= deadline) return false;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(1000));
  }
}

bool RemoveTree(const std::filesystem::path& path, Deadline deadline) {
  std::error_code error;
  return RetryWhileLocked([&](std::error_code& failure) { return RemoveAll(path, failure); },
                          deadline, error);
}

}  // namespace launcher
