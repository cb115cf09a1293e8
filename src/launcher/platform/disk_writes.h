#pragma once
// Putting what was written on the disk: a whole folder before it may become a version that is
// started, so that a power cut after the switch can't leave empty or cut files behind; and a
// head start for one file whose writing is done.

#include <filesystem>

namespace launcher {

// Puts every file below `folder` on the disk: the file system's own sync on Linux, each file
// and folder flushed on Windows. False when that fails.
[[nodiscard]] bool FlushToDisk(const std::filesystem::path& folder);

// Starts putting `file`'s bytes on the disk and returns without waiting; nothing when that can't
// be done. On Windows nothing either: its cache starts writing within a second by itself.
void StartWritingToDisk(const std::filesystem::path& file);

}  // namespace launcher
