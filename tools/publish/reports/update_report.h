#pragma once
// What a new release costs the players of each release already published, as the launcher's own
// plan of the update decides (by content, as an installed version with its record keeps files,
// by patches and packed blobs, and by chunks for large files), counted in the bytes it would
// download, the manifest included. Known before the release ships, so that a studio sees a patch
// that is about to cost everyone the whole game.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "launcher/feed/chunk_index.h"
#include "launcher/feed/file_list.h"
#include "launcher/feed/manifest.h"

namespace launcher::publish {

struct UpdateReport {
  std::wstring from;       // the release a player has; empty for a new player, who has none
  bool sameBuild = false;  // that release holds this very build: nothing to fetch
  bool byArchive = false;
  std::uint64_t files = 0;  // contents fetched singly, or every file of the archive
  std::uint64_t bytes = 0;  // the archive or the blobs, and the file list
  // The listed files that cost most to fetch singly, largest first (at most three).
  std::vector<std::pair<std::string, std::uint64_t>> costliest;
};

// The release being planned, its stored forms, and what a launcher fetches of it besides the
// files: its packed manifest.
struct NewRelease {
  std::wstring version;
  const std::vector<Listed>& listed;
  const std::vector<ChunkedFile>& chunks;
  const std::vector<StoredContent>& stored;
  std::uint64_t manifestBytes = 0;
  std::uint64_t archiveBytes = 0;
};

// One report for a new player (the archive, its block list and the manifest), then one for every
// release the server folder holds but `next` itself, oldest first. A changed large file built by
// chunks counts only the chunks that the older file lacks, found by cutting its blob as the
// launcher cuts the installed file. A release whose files are the build's own costs its players
// nothing. Throws Failure when an older list can't be read.
std::vector<UpdateReport> ReportUpdates(const std::filesystem::path& server,
                                        const NewRelease& next);

}  // namespace launcher::publish
