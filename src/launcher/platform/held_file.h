#pragma once
// A file held open for reading so that what is read stays what is on the disk until it is let
// go: on Windows nobody else may write, rename or delete it meanwhile; on Linux it is opened
// without following a link, in a folder only this user can write. The launcher installer is
// hashed through it and started while it is held.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace launcher {

class HeldFile {
 public:
  // Nothing when the file can't be opened so (another program writing it, a link, missing).
  static std::unique_ptr<HeldFile> Open(const std::filesystem::path& file);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // Up to `count` bytes from where the last read ended: 0 at the end, -1 when the read fails.
  std::int64_t Read(void* buffer, std::size_t count);

 private:
  struct Handle;
  explicit HeldFile(std::unique_ptr<Handle> handle);
  std::unique_ptr<Handle> handle_;
};

// Whether a held file keeps every other writer out until it is let go: on Windows, where it is
// opened denying them; not on Linux, where it is an open file like any other.
bool HoldingKeepsWritersOut();

// A new folder below `parent` that only this user can write, named `prefix` and a random ending;
// empty when none could be made. Never an existing folder: whoever made that may still write it.
std::filesystem::path MakePrivateFolder(const std::filesystem::path& parent,
                                        const std::filesystem::path::string_type& prefix);

}  // namespace launcher
