#pragma once
// One file that the update feed names, brought onto the disk complete and verified: exactly the
// promised size and SHA-256. Whatever stands at the path is taken for an earlier, unfinished
// attempt at the same file: its bytes are kept, hashed again and only the rest is asked for.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace launcher {

// Bytes of the file in place so far, including those kept from an earlier attempt.
using DownloadProgress = std::function<void(std::uint64_t written)>;

// Runs on the calling thread, callbacks too. On return the file at `path` has `size` bytes whose
// digest is `sha256` (64 lower-case hexadecimal characters). Throws Failure with the player's
// message; a file that turned out wrong is deleted, one cut off stays to be resumed. An exception
// thrown by `progress` (Stopped, for one) passes through unchanged, leaving the bytes written so
// far.
void Download(const std::wstring& url, std::uint64_t size, const std::wstring& sha256,
              const std::filesystem::path& path, const DownloadProgress& progress);

}  // namespace launcher
