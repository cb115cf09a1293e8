#pragma once
// Publisher signatures: ECDSA on the curve P-256 over SHA-256, the one scheme the launcher
// trusts. A public key is the curve point X || Y (64 bytes), a signature r || s (64 bytes), both
// written as hexadecimal text. Verification is BCrypt's on Windows and OpenSSL's on Linux.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace launcher {

struct PublicKey {
  std::array<std::uint8_t, 64> point{};  // X then Y, each 32 bytes big-endian

  bool operator==(const PublicKey&) const = default;
};

using Signature = std::array<std::uint8_t, 64>;  // r then s, each 32 bytes big-endian

// 128 hexadecimal digits; nothing for any other text.
std::optional<PublicKey> ParsePublicKey(std::string_view hex);
std::optional<Signature> ParseSignature(std::string_view hex);

// Whether `signature` is the key's owner's signature of `message`. False for a key that isn't a
// point of the curve; never throws.
[[nodiscard]] bool VerifySignature(const PublicKey& key, std::string_view message,
                                   const Signature& signature);

}  // namespace launcher
