#pragma once
// The one way the launcher reads an unsigned decimal number from text (feed sizes, file list
// sizes, version pieces): leading white space skipped, an optional sign ("-" negates modulo the
// type's range), the digits that follow, and anything after them ignored.

#include <cstdint>
#include <optional>
#include <string_view>

namespace launcher {

// Nothing when there are no digits where they should start or the value exceeds `largest`
// (which is 2^k - 1 for the type being read).
template <typename Char>
std::optional<std::uint64_t> ReadUnsigned(std::basic_string_view<Char> text,
                                          std::uint64_t largest) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  std::uint64_t value = 0;
  bool anyDigit = false;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    const auto digit = static_cast<std::uint64_t>(text[at] - '0');
    if (value > (largest - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
    anyDigit = true;
  }
  if (!anyDigit) return std::nullopt;
  return negative ? (~value + 1) & largest : value;
}

}  // namespace launcher
