#pragma once
// Digests of files on disk, and copying a kept file of the current version into the staging
// folder while hashing it, in one pass.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "launcher/text/digest.h"

namespace launcher {

// The digest of the file's bytes; a file that can't be opened hashes as no bytes.
Digest HashFile(const std::filesystem::path& file);

// Whether `file` is a regular file of exactly `size` bytes with the digest `sha256`; it is read
// for the digest only when the size fits.
[[nodiscard]] bool HoldsExactly(const std::filesystem::path& file, std::uint64_t size,
                                const Digest& sha256);

// Copies `source` to `destination` (created or truncated) and returns the digest of the bytes
// copied; `onCopied` gets each block's byte count. Throws Failure "A kept file couldn't be
// copied" when either file can't be opened, a read or write fails, or the close does; a full disk
// says how much more room the copy needs.
Digest CopyHashed(const std::filesystem::path& source, const std::filesystem::path& destination,
                  const std::function<void(unsigned long long)>& onCopied);

// Copies `source` to `destination` (created or truncated) only when it holds exactly `size`
// bytes with the digest `sha256`, and says whether it did. For a source of at most
// kHashBufferSize bytes: it is read whole and hashed before anything is written, so a file that
// changed costs a read and no write; the bytes written are the ones hashed. Throws as CopyHashed.
[[nodiscard]] bool CopySmallIfHolds(const std::filesystem::path& source,
                                    const std::filesystem::path& destination, std::uint64_t size,
                                    const Digest& sha256,
                                    const std::function<void(unsigned long long)>& onCopied);

}  // namespace launcher
