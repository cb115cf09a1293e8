#pragma once
// Bytes that don't compress and never repeat, the same for the same seed: the stuff of game pack
// files in tests.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

namespace launcher::support {

class RandomBytes {
 public:
  explicit RandomBytes(std::uint64_t seed) : random_(seed) {}

  std::string operator()(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t at = 0; at < size; at += 8) {
      const std::uint64_t word = random_();
      std::memcpy(bytes.data() + at, &word, std::min<std::size_t>(8, size - at));
    }
    return bytes;
  }

 private:
  std::mt19937_64 random_;
};

}  // namespace launcher::support
