#pragma once
// A fixed number of threads working through a list of items, for the install's steps whose items
// don't depend on each other: downloads, and copies of kept files. The first failure stops the
// rest, and the caller sees that failure, not the ones it caused.

#include <atomic>
#include <cstddef>
#include <functional>

namespace launcher {

// Calls `work(i, stopping)` once for each i in [0, count), in order of i, on up to `threads`
// threads, the caller's among them. When a call throws, no further item starts and `stopping`
// turns true for the calls still running, which may end early by throwing too. Returns once every
// thread has ended; the first exception thrown is then rethrown.
void WorkInParallel(
    std::size_t count, std::size_t threads,
    const std::function<void(std::size_t, const std::atomic<bool>& stopping)>& work);

}  // namespace launcher
