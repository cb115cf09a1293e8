#pragma once
// The run that follows a launcher update deletes the installers that the update downloaded.

#include <filesystem>

namespace launcher {

// Removes every entry of `temporaryDirectory` whose name begins with "Quellorn-Launcher-",
// compared case-sensitively: an installer's private folder with everything in it, or an
// installer file. A link is removed, never followed. Never throws for file system trouble: an
// entry that can't be removed stays, and a folder that can't be listed is left alone.
void RemoveLeftoverInstallers(const std::filesystem::path& temporaryDirectory);

}  // namespace launcher
