#pragma once
// What an install reports while it works: which kind of bytes, how many so far, of how many.

#include <cstddef>
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

// How one file of a new version came to be there, for the summary of an update: kept from the
// installed version (linked, or copied), left by an earlier attempt, made by a patch, built from
// the chunks of the installed file, fetched packed or raw, or unpacked from the archive.
enum class Came : std::uint8_t { Linked, Copied, Earlier, Patched, Chunks, Packed, Raw, Archive };

// "linked", "copied", "earlier", "patched", "chunks", "packed", "raw", "archive".
inline const char* NameOf(Came came) {
  constexpr const char* kNames[] = {"linked", "copied", "earlier", "patched",
                                    "chunks", "packed", "raw",     "archive"};
  return kNames[static_cast<std::size_t>(came)];
}

}  // namespace launcher
