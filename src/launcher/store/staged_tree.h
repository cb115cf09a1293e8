#pragma once
// The last look at a staged version before it may become current: the tree holds plain files and
// folders only, every file the release's list names is there with its listed size, and, when it
// was staged file by file, nothing else.

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

}  // namespace launcher
