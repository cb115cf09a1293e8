#pragma once
// Bytes written as hexadecimal text, two digits a byte, as keys and signatures travel.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace launcher {

// Fills `bytes` from exactly 2 * bytes.size() hexadecimal digits of either case; false (and
// `bytes` undefined) for any other text.
inline bool ParseHex(std::string_view text, std::span<std::uint8_t> bytes) {
  if (text.size() != 2 * bytes.size()) return false;
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const int high = digit(text[2 * i]);
    const int low = digit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return true;
}

// `count` bytes as 2 * count lower-case hexadecimal digits.
inline std::string HexOf(const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(2 * count, '0');
  for (std::size_t i = 0; i < count; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 15];
  }
  return text;
}

}  // namespace launcher
