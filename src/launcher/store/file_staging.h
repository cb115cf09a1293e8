#pragma once
// The file-by-file path of an install: the staging folder is filled from what an earlier attempt
// left there, from the unchanged files of the current version and, for the rest, from the update
// server; then every file the list doesn't name is swept out.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "launcher/feed/file_list.h"
#include "launcher/store/stage.h"

namespace launcher {

// `sources[i]` is listed[i]'s file in the current version, or empty; downloads go through the
// working folder `parts`. Reports Keeping progress against `keptTotal`, then the pool's
// Downloading progress. Throws Failure (a kept file that can't be copied, any download's
// message) or std::filesystem::filesystem_error.
void StageFileByFile(const std::vector<Listed>& listed,
                     const std::vector<std::filesystem::path>& sources, std::uint64_t keptTotal,
                     const std::filesystem::path& staging, const std::filesystem::path& parts,
                     const std::wstring& base, const InstallProgress& progress);

// Removes every regular file below `staging` that `listed` doesn't name, ignoring ASCII letter
// case. Folders stay.
void SweepStrays(const std::vector<Listed>& listed, const std::filesystem::path& staging);

}  // namespace launcher
