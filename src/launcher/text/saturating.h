#pragma once
// Sums of sizes that stop at the largest 64-bit value instead of wrapping: a feed or file list may
// name sizes whose sum doesn't fit, and a wrapped sum would pass every comparison it should fail.

#include <cstdint>
#include <limits>

namespace launcher {

inline std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();
  return a > kLargest - b ? kLargest : a + b;
}

}  // namespace launcher
