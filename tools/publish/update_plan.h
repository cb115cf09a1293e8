#pragma once
// What a new release costs the players of each release already published: the launcher's own
// choice between the archive and the files one by one (by content, as an installed version with
// its record keeps them), and the bytes it would download, file list included. Known before the
// release ships, so that a studio sees a patch that is about to cost everyone the whole game.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "launcher/feed/file_list.h"

namespace launcher::publish {

struct UpdatePlan {
  std::wstring from;  // the release a player has
  bool byArchive = false;
  std::uint64_t files = 0;  // contents fetched singly, or every file of the archive
  std::uint64_t bytes = 0;  // the archive or the blobs, and the file list
  // The listed files that cost most to fetch singly, largest first (at most three).
  std::vector<std::pair<std::string, std::uint64_t>> costliest;
};

// One plan for every release the server folder holds but `version` itself, oldest first.
// `listed` is the new release's list, `listBytes` the size of its text. Throws Failure when an
// older list can't be read.
std::vector<UpdatePlan> PlanUpdates(const std::filesystem::path& server,
                                    const std::wstring& version, const std::vector<Listed>& listed,
                                    std::uint64_t listBytes, std::uint64_t archiveSize);

}  // namespace launcher::publish
