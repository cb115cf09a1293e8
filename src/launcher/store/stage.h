#pragma once
// What an install reports while it works: which kind of bytes, how many so far, of how many.

#include <cstdint>
#include <functional>

namespace launcher {

enum class Stage : std::uint32_t {
  Keeping = 0,      // unchanged files carried over from the current version
  Downloading = 1,  // bytes fetched from the update server
  Unpacking = 2,    // the archive being unpacked; no counts
  Checking = 3,     // the installed files hashed to find what a repair must fetch
  // Changed large files built from the chunks the installed ones hold, reported twice per chunk
  // against the files' size: the bytes taken from the installed files, then the bytes fetched.
  Taking = 4,
  Patching = 5,
};

using InstallProgress = std::function<void(Stage stage, std::uint64_t done, std::uint64_t total)>;

}  // namespace launcher
