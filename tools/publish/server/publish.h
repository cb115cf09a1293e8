#pragma once
// Publishing what the update server serves: a game build becomes per-file blobs, a release
// archive, a file list and the feed that names them; a launcher installer joins the feed. The
// feed is written last and in one step, so a launcher reading it at any moment finds everything
// it names. Runs on the calling thread; throws Failure with a message for the publisher, after
// taking back whatever this run had added to the server folder.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "launcher/feed/feed.h"
#include "tools/publish/reports/update_report.h"
#include "tools/publish/server/archive_maker.h"
#include "tools/publish/server/stored_forms.h"
#include "tools/publish/signing/signed_feed.h"

namespace launcher::publish {

// A line about long work ("Hashing … 12 of 5000 files"), for a terminal.
using PublishProgress = std::function<void(const std::wstring& line)>;

struct ReleaseSummary {
  Feed feed;                           // as written
  std::uint64_t files = 0;             // in the build
  std::uint64_t bytes = 0;             // of the build
  std::uint64_t blobsWritten = 0;      // new under files/
  std::uint64_t blobsKept = 0;         // already there with the right bytes
  std::uint64_t bytesWritten = 0;      // blobs, stored forms, archive and documents together
  std::size_t packed = 0;              // contents given a packed blob
  std::size_t patches = 0;             // patches from earlier releases' contents
  std::vector<UpdateReport> plans;     // what it costs the players of every other release
  std::vector<std::wstring> warnings;  // what the build holds that players won't get
};

struct ReleaseOptions {
  Signing signing;
  bool allowDowngrade = false;
  std::wstring channel;              // empty: the live feed
  std::uint64_t maxUpdateBytes = 0;  // what no player may have to download; 0: no limit
  bool allowName = false;  // a version name the launcher reads as another (pre-release look)
  bool strict = false;     // refuse rather than warn about what the build holds
  // How many of the newest earlier releases each changed file gets a patch from.
  std::size_t patchedReleases = kDefaultPatchedReleases;
};

// `build` must hold "Quellorn.exe" at its top; `version` must be a plain name. The feed written
// is the channel's (the live one for an empty name). A version older than the one that feed names
// (by the launcher's order) would move every player of it back: it is refused, before anything
// is written, unless `allowDowngrade`. So is a release that would cost a player of any release
// in the folder more than `maxUpdateBytes`, once its plan is known; a version the launcher reads
// as another ("2.3.0-beta" as 2.3.0) unless `allowName`; and, when `strict`, a build holding what
// players won't get (empty folders), which is otherwise a warning of the summary.
ReleaseSummary PublishRelease(const std::filesystem::path& build, const std::wstring& version,
                              const std::filesystem::path& server,
                              const ArchiveMaker& makeArchive = MakeArchive,
                              const PublishProgress& progress = {},
                              const ReleaseOptions& options = {});

struct PlanSummary {
  std::vector<UpdateReport> plans;
  std::uint64_t serverGrowth = 0;  // what publishing it would add to the server folder
};

// What publishing `build` would cost the players of every release in the folder, and the folder:
// the build is hashed, its archive and stored forms made under temporary names, and nothing
// stays.
PlanSummary PlanRelease(const std::filesystem::path& build, const std::filesystem::path& server,
                        const ArchiveMaker& makeArchive = MakeArchive,
                        const PublishProgress& progress = {},
                        std::size_t patchedReleases = kDefaultPatchedReleases);

// Adds the installer under "Quellorn-Launcher-<version>.exe" and names it in the channel's feed,
// keeping the release the feed names. The feed must name a release already.
Release PublishLauncher(const std::filesystem::path& installer, const std::wstring& version,
                        const std::filesystem::path& server, const Signing& signing = {},
                        const std::wstring& channel = L"");

// The published feed again with a sequence one higher and a new expiry, signed anew: what a
// publisher runs before a signed feed expires. Throws Failure when there is no feed.
Feed Resign(const std::filesystem::path& server, const Signing& signing,
            const std::wstring& channel = L"");

}  // namespace launcher::publish
