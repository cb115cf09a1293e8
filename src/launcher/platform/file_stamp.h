#pragma once
// What the file system says about a file without reading it: its size, when it was last written
// and which file it is (a hard link shares the identity of the file it names). A version's files
// are recorded by these at install time, so that a later update or start can trust a file whose
// stamp hasn't changed without hashing its bytes.

#include <cstdint>
#include <filesystem>
#include <optional>

namespace launcher {

struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // in the platform's own units; only ever compared
  std::uint64_t volume = 0;   // with `index`, the file's identity; both 0 when not asked for
  std::uint64_t index = 0;
  std::uint64_t links = 0;  // names the file has; not part of what is compared

  bool SameTimes(const FileStamp& other) const {
    return size == other.size && modified == other.modified;
  }
  bool SameFile(const FileStamp& other) const {
    return SameTimes(other) && volume == other.volume && index == other.index;
  }
};

// The stamp of a plain file, the entry itself looked at (never a link's target); nothing for a
// link, a folder, anything else or a file that can't be asked. Without `identity` only the size
// and time are filled, which on Windows needs no handle and costs far less.
std::optional<FileStamp> StampOf(const std::filesystem::path& file, bool identity);

// When a folder was last written: it changes whenever a name in it is created, deleted or
// renamed. Nothing for anything but a plain folder (a link or junction to one included).
std::optional<std::int64_t> FolderStampOf(const std::filesystem::path& folder);

}  // namespace launcher
