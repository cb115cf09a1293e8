#pragma once
// The last look at a staged version before it may become current: the tree holds plain files and
// folders only, every file the release's list names is there with its listed size, and, when it
// was staged file by file, nothing else. Then every byte of it is put on the disk, so that a
// power cut after current.txt names it can't leave empty or cut files behind.

#include <filesystem>
#include <vector>

#include "launcher/feed/file_list.h"

namespace launcher {

// Throws Failure naming the first problem: a link, junction or other reparse point anywhere
// below `staging` (or a tree that can't be walked), a listed file missing or of another size,
// or, when `exact`, a file the list doesn't name. Folders and, unless `exact`, unlisted files
// are allowed. Reads no contents.
void CheckStagedTree(const std::filesystem::path& staging, const std::vector<Listed>& listed,
                     bool exact);

// Puts every file below `folder` on the disk: the file system's own sync on Linux, each file
// and folder flushed on Windows. Throws Failure when that fails.
void FlushToDisk(const std::filesystem::path& folder);

// Starts putting `file`'s bytes on the disk and returns without waiting; nothing when that can't
// be done. On Windows nothing either: its cache starts writing within a second by itself.
void StartWritingToDisk(const std::filesystem::path& file);

}  // namespace launcher
