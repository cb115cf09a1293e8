#pragma once
// The forms a release's contents are stored in beside their raw blobs, so that a launcher
// downloads as few bytes as it can verify: each content packed with zstd where that saves 5 % or
// more, and for each changed file a patch from the content its path had in each of the last few
// releases, kept where it is under 90 % of the next cheapest way (the packed blob, or the chunks
// an update would fetch). A patch needs its base and content together in the launcher's memory:
// none is made where they come to more than kLargestPatchedPair. What the server folder holds
// already is used as it stands.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "launcher/feed/manifest.h"
#include "tools/publish/server/build_scan.h"
#include "tools/publish/server/server_changes.h"

namespace launcher::publish {

inline constexpr std::size_t kDefaultPatchedReleases = 3;
inline constexpr std::uint64_t kLargestPatchedPair = std::uint64_t{256} << 20;

// A release published before, as its manifest (or, from an older tool, its list and chunk index)
// tells it.
struct EarlierRelease {
  std::wstring version;
  Manifest manifest;
};

// The `count` newest releases of the folder older than `version` (by the launcher's order; all
// of them for an empty one), newest first. Throws Failure when one's documents can't be read.
std::vector<EarlierRelease> EarlierReleases(const std::filesystem::path& server,
                                            const std::wstring& version, std::size_t count);

struct FormsMade {
  std::vector<StoredContent> stored;  // ordered by content
  std::uint64_t bytesWritten = 0;
  std::size_t packed = 0;   // contents with a packed blob
  std::size_t patches = 0;  // patches in all
};

// The stored forms of the release whose build `files` hashed to `listed` (in the same order),
// with the large files' chunks `chunks`. New forms go into the server folder through `changes`.
// Throws Failure when a build file can't be read or no longer holds its listed bytes.
FormsMade MakeStoredForms(const std::filesystem::path& server, ServerChanges& changes,
                          const std::vector<BuildFile>& files, const std::vector<Listed>& listed,
                          const std::vector<ChunkedFile>& chunks,
                          const std::vector<EarlierRelease>& earlier,
                          const std::function<void(const std::wstring&, bool)>& pace);

}  // namespace launcher::publish
