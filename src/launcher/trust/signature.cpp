#include "launcher/trust/signature.h"

#include "launcher/text/hex.h"

namespace launcher {

std::optional<PublicKey> ParsePublicKey(std::string_view hex) {
  PublicKey key;
  if (!ParseHex(hex, key.point)) return std::nullopt;
  return key;
}

std::optional<Signature> ParseSignature(std::string_view hex) {
  Signature signature;
  if (!ParseHex(hex, signature)) return std::nullopt;
  return signature;
}

}  // namespace launcher
