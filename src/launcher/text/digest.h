#pragma once
// A SHA-256 digest as the launcher keeps it: its 32 bytes, written as 64 lower-case hexadecimal
// digits wherever it travels as text (file lists, blob names, feeds).

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "launcher/text/hex.h"

namespace launcher {

struct Digest {
  std::array<std::uint8_t, 32> bytes{};

  auto operator<=>(const Digest&) const = default;

  std::string Text() const { return HexOf(bytes.data(), bytes.size()); }
  std::wstring Hex() const {
    const std::string text = Text();
    return std::wstring(text.begin(), text.end());
  }

  // 64 hexadecimal digits of either case; nothing for any other text.
  static std::optional<Digest> FromHex(std::string_view text) {
    Digest digest;
    if (!ParseHex(text, digest.bytes)) return std::nullopt;
    return digest;
  }
};

}  // namespace launcher
