#pragma once
// Reading a game build folder: every regular file with the "/"-separated name the file list and
// the archive will carry, sorted by name, refused with a message when the launcher couldn't
// install it the same way on every player's machine.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace launcher::publish {

struct BuildFile {
  std::filesystem::path source;
  std::wstring name;  // "/" between folders, relative to the build's top
  std::uint64_t size = 0;
};

// Throws Failure for a missing folder or "Quellorn.exe", a link or anything not a regular file,
// a name the file list can't carry, or two names that differ only in letter case.
std::vector<BuildFile> ScanBuild(const std::filesystem::path& build);

// The folders below `build` that hold nothing at all: a release carries files only, so players
// never get them. "/"-separated, relative to the build's top, sorted.
std::vector<std::wstring> EmptyFolders(const std::filesystem::path& build);

}  // namespace launcher::publish
