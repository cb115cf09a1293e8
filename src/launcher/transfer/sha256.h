#pragma once
// SHA-256, the one digest the launcher verifies everything with: BCrypt on Windows, OpenSSL on
// Linux. Digests travel as text: 64 lower-case hexadecimal characters, compared exactly.
// A digest that can't be computed throws Failure; none is ever made of undefined bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "launcher/text/digest.h"

namespace launcher {

// Files are read for hashing in blocks of this size.
inline constexpr std::size_t kHashBufferSize = 1048576;

// An incremental hasher: Add the bytes in order, then FinishHex once.
class Sha256 {
 public:
  Sha256();  // throws Failure if the platform's SHA-256 can't be had
  ~Sha256();
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;

  void Add(const void* bytes, std::size_t count);
  std::wstring FinishHex();
  std::array<std::uint8_t, 32> Finish();  // the digest's bytes, instead of FinishHex

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The digest of bytes in memory, as text and as bytes.
std::wstring Sha256Hex(std::string_view bytes);
Digest DigestOf(std::string_view bytes);

// Adds the first `limit` bytes of a file (all of it when it is shorter) and returns how many
// were added: fewer than `limit` when the file is shorter or can't be read.
std::uint64_t AddFilePrefix(Sha256& hasher, const std::filesystem::path& file, std::uint64_t limit);

}  // namespace launcher
