#pragma once
// The user's temporary folder, as the system names it.

#include <filesystem>

namespace launcher {

// Windows: GetTempPathW, read whole however long it is, with its trailing backslash. Linux:
// $TMPDIR, else /tmp, ending in "/".
std::filesystem::path TemporaryDirectory();

}  // namespace launcher
