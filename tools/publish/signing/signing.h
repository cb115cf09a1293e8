#pragma once
// The publisher's side of feed signatures: making a key pair, keeping the private key in a PEM
// file, and signing a feed's exact bytes. ECDSA P-256 over SHA-256 with OpenSSL on Linux and
// BCrypt on Windows; the launcher checks the signatures with its own code (trust/signature.h).

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "launcher/text/hex.h"
#include "launcher/trust/signature.h"

namespace launcher::publish {

struct PrivateKey {
  std::array<std::uint8_t, 32> scalar{};  // d, big-endian
  PublicKey publicKey;
};

// A new key pair from the system's random source. Throws Failure when none can be made.
PrivateKey GenerateKey();

// r || s of `message`'s SHA-256. Throws Failure when the key can't sign.
Signature Sign(const PrivateKey& key, std::string_view message);

// The key as an "EC PRIVATE KEY" PEM file (RFC 5915 with the curve named), the form
// `openssl ecparam -name prime256v1 -genkey -noout` writes too.
std::string PemOf(const PrivateKey& key);

// The key of such a file. Throws Failure naming the file when it holds anything else.
PrivateKey ReadPrivateKey(const std::filesystem::path& file);

// Writes a new file that only its owner may read; refuses to replace one. Throws Failure.
void WriteOwnerOnlyFile(const std::filesystem::path& file, std::string_view bytes);

}  // namespace launcher::publish
