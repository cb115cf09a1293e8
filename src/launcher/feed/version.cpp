#include "launcher/feed/version.h"

#include <algorithm>
#include <string_view>

#include "launcher/text/numbers.h"

namespace launcher {

std::vector<std::uint32_t> ParseVersion(const std::wstring& version) {
  std::vector<std::uint32_t> numbers;
  size_t start = 0;
  // A start equal to the length still makes one, empty, piece: "3." is 3, 0.
  while (start <= version.size()) {
    const size_t dot = std::min(version.find(L'.', start), version.size());
    const std::wstring_view piece = std::wstring_view(version).substr(start, dot - start);
    numbers.push_back(
        static_cast<std::uint32_t>(ReadUnsigned(piece, 0xFFFFFFFFu, Minus::Wraps).value_or(0)));
    start = dot + 1;
  }
  return numbers;
}

bool IsNewerVersion(const std::wstring& a, const std::wstring& b) {
  std::vector<std::uint32_t> first = ParseVersion(a);
  std::vector<std::uint32_t> second = ParseVersion(b);
  const size_t length = std::max(first.size(), second.size());
  first.resize(length, 0);
  second.resize(length, 0);
  return first > second;
}

}  // namespace launcher
