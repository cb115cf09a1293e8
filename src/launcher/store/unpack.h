#pragma once
// Unpacking a release archive with the system's own tar, which recognises the archive's format by
// itself. Blocks until tar ends.

#include <filesystem>

namespace launcher {

// Extracts `archive` into the existing `folder`. Throws Failure "The release couldn't be
// unpacked" when tar fails, and "The release couldn't be unpacked: Windows' tar is missing" (on
// Linux: "...: the system's tar is missing") when it can't be started.
void Unpack(const std::filesystem::path& archive, const std::filesystem::path& folder);

}  // namespace launcher
