#pragma once
// The one way the launcher reads an unsigned decimal number from text (feed sizes, file list
// sizes, version pieces): leading white space skipped, an optional sign, the digits that follow,
// and anything after them ignored.

#include <cstdint>
#include <optional>
#include <string_view>

namespace launcher {

// What a "-" sign does: version pieces wrap it modulo the type's range, as they always have; a size
// with a "-" is unreadable, since wrapping would turn "-1" into the largest size there is.
enum class Minus { Wraps, Refused };

// Nothing when there are no digits where they should start, the value exceeds `largest` (which
// is 2^k - 1 for the type being read), or a refused "-" stands before the digits.
template <typename Char>
std::optional<std::uint64_t> ReadUnsigned(std::basic_string_view<Char> text, std::uint64_t largest,
                                          Minus minus) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  if (negative && minus == Minus::Refused) return std::nullopt;
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
