#pragma once
// One file that the update feed names, brought onto the disk complete and verified: exactly the
// promised size and SHA-256. Whatever stands at the path is taken for an earlier, unfinished
// attempt at the same file: its bytes are kept, hashed again and only the rest is asked for.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "launcher/feed/release.h"

namespace launcher {

// Bytes of the file in place so far, including those kept from an earlier attempt.
using DownloadProgress = std::function<void(std::uint64_t written)>;

// Runs on the calling thread, callbacks too. On return the file at `path` has release.size
// bytes whose digest is release.sha256. Throws Failure with the player's message; a file that
// turned out wrong is deleted, one cut off stays to be resumed. An exception thrown by
// `progress` (Stopped, for one) passes through unchanged, leaving the bytes written so far.
void Download(const Release& release, const std::wstring& url, const std::filesystem::path& path,
              const DownloadProgress& progress);

}  // namespace launcher
