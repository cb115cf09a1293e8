#pragma once
// The folder that holds the running launcher: launcher.json and the client store live beside it.

#include <filesystem>
#include <string>

namespace launcher {

// Asks the system for the executable's full path. Throws std::system_error if it can't be had.
std::filesystem::path ExecutableDirectory();

// Everything before the last "\" or "/" of a full file path, without trailing separators; a root
// ("C:\" or "/") keeps its separator so that joining a name to it stays inside that root.
std::wstring ParentDirectory(const std::wstring& filePath);

}  // namespace launcher
