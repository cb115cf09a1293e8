#include "launcher/store/work_in_parallel.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace launcher {

void WorkInParallel(std::size_t count, std::size_t threads,
                    const std::function<void(std::size_t, const std::atomic<bool>&)>& work) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stopping{false};
  std::mutex lock;
  std::exception_ptr first;
  const auto fail = [&](std::exception_ptr failure) {
    const std::lock_guard guard(lock);
    if (!first) first = failure;
    stopping = true;
  };
  const auto run = [&] {
    try {
      for (std::size_t i = next++; i < count && !stopping; i = next++) work(i, stopping);
    } catch (...) {
      fail(std::current_exception());
    }
  };

  const std::size_t workers = std::min(std::max<std::size_t>(threads, 1), count);
  std::vector<std::thread> started;
  try {
    for (std::size_t i = 1; i < workers; ++i) started.emplace_back(run);
  } catch (...) {
    // The threads already running use this frame: stop them and wait before leaving it.
    fail(std::current_exception());
  }
  if (!stopping && workers > 0) run();
  for (std::thread& thread : started) thread.join();
  if (first) std::rethrow_exception(first);
}

}  // namespace launcher
