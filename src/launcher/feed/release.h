#pragma once
// One downloadable thing that the update feed names: the client release, the launcher installer,
// or a single listed file of a release.

#include <cstdint>
#include <string>

namespace launcher {

struct Release {
  std::wstring version;
  std::wstring file;
  std::wstring sha256;  // 64 lower-case hexadecimal characters
  std::uint64_t size = 0;

  bool operator==(const Release&) const = default;
};

}  // namespace launcher
