#pragma once
// The single files of a release that must come from the update server, downloaded up to six at a
// time into the staging folder. Each goes to its own ".part" file beside its final place and is
// moved there when verified; the first failure stops the others and becomes the failure of all.

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "launcher/feed/file_list.h"
#include "launcher/feed/release.h"
#include "launcher/store/stage.h"

namespace launcher {

inline constexpr std::size_t kMaxDownloadWorkers = 6;

// Downloads listed[k] for every k of `toFetch` (in that order of hand-out) from
// base + "files/" + sha256 + ".bin" to SafeJoin(staging, path); their folders must exist.
// Reports Downloading progress, summed over all files, one report at a time. Runs on the calling
// thread plus up to maxWorkers - 1 more, all joined before it returns or throws the first failure.
void RunDownloadPool(const std::vector<std::size_t>& toFetch, const std::vector<Listed>& listed,
                     const std::filesystem::path& staging, const Release& release,
                     const std::wstring& base, const InstallProgress& progress,
                     std::size_t maxWorkers = kMaxDownloadWorkers);

}  // namespace launcher
