#pragma once
// Moving a finished file or folder onto its final name inside the store, replacing a file that
// stands there.

#include <filesystem>

namespace launcher {

// Throws std::filesystem::filesystem_error for "rename" with both paths.
void MoveIntoPlace(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace launcher
