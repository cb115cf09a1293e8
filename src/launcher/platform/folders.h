#pragma once
// The store's folders as the system holds them: a tree removed without ever following a link
// inside it (a junction planted there could lead anywhere), and a working folder that nobody but
// this user can write into.

#include <filesystem>
#include <system_error>

namespace launcher {

// Removes a file, or a folder with everything in it, as std::filesystem::remove_all does, but a
// link, junction or other reparse point anywhere below (or at `path`) goes itself: what it leads
// to stays untouched. True when nothing is left (or nothing was there).
[[nodiscard]] bool RemoveAll(const std::filesystem::path& path, std::error_code& error);

// Makes `folder` (its parent must exist) a folder of this user's that only it can write, with the
// mode 0755 on Linux: one that is so already stays as it is; anything else at the name (a link,
// a file, another user's folder) is removed first. Throws std::filesystem::filesystem_error.
void MakeOwnFolder(const std::filesystem::path& folder);

}  // namespace launcher
