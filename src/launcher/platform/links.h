#pragma once
// A game release holds plain files and folders only. An unpacked archive that holds a symbolic
// link, a junction or any other reparse point could reach outside the store, so it is refused.

#include <filesystem>

namespace launcher {

// True for a symbolic link (Linux) or any reparse point (Windows); the entry itself, not its
// target, is looked at.
bool IsLink(const std::filesystem::path& entry);

// True when anything below `folder` is a link, or when the folder can't be walked whole (which
// is treated as unsafe). Never follows a link.
[[nodiscard]] bool HoldsLinks(const std::filesystem::path& folder);

}  // namespace launcher
