#pragma once
// One server folder, several feeds: "latest.json" is the live channel and "latest-NAME.json" the
// channel NAME. Every feed names archives, lists and blobs of the same folder, so a blob is
// stored once whatever the channels, and a launcher picks its channel by the feed URL alone.
// Besides publishing into a channel: pointing a channel at a release already published
// (promote), and removing the releases no channel needs any more (prune).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "launcher/feed/feed.h"
#include "tools/publish/signing/signed_feed.h"

namespace launcher::publish {

// "latest.json" for the live channel (an empty name), else "latest-<channel>.json". Throws
// Failure for a name other than lower-case letters, digits and inner "-".
std::wstring FeedNameOf(const std::wstring& channel);

// The feed files of every channel in the folder, the live one first when there is one.
std::vector<std::wstring> ChannelFeeds(const std::filesystem::path& server);

// The feed a channel has published, or an empty one; throws Failure when the file isn't a feed.
Feed ReadPublishedFeed(const std::filesystem::path& server, const std::wstring& feedName);

// Throws Failure, naming --allow-downgrade, when `version` is older than the feed's release.
void RefuseDowngrade(const Feed& published, const std::wstring& version, bool allowDowngrade);

// A release the folder holds: its archive and file list, found by the names publishing gives them.
struct PublishedRelease {
  std::wstring version;
  std::wstring archive;   // "Quellorn-<version>.tar.zst", ".tar.gz" or ".tar"
  std::wstring list;      // "Quellorn-<version>-files.txt"
  std::wstring chunks;    // "Quellorn-<version>-chunks.txt", or empty when it has no large files
  std::wstring blocks;    // "Quellorn-<version>-blocks.txt", or empty (published by an older tool)
  std::wstring manifest;  // "Quellorn-<version>-manifest.zst", or empty (an older tool's)
};

// Every release with both its archive and list, oldest first by the launcher's version order.
std::vector<PublishedRelease> PublishedReleases(const std::filesystem::path& server);

// Points the channel's feed at `version`, published before in any channel, byte for byte: its
// archive and list as they stand. The channel's launcher stays; a rollout under way ends. Refuses
// a downgrade unless `allowDowngrade`. Returns the feed as written.
Feed Promote(const std::filesystem::path& server, const std::wstring& version,
             const std::wstring& channel, const Signing& signing, bool allowDowngrade);

// Offers `version`, published before in any channel and newer than the channel's release, to
// `percent` of the installations that follow the channel; the rest are still offered the release
// the feed names. Rolling out the same release again keeps its salt, so a higher share only adds
// players; another release gets a new one. 100 % is a promote. Returns the feed as written.
Feed RollOut(const std::filesystem::path& server, const std::wstring& version,
             std::uint32_t percent, const std::wstring& channel, const Signing& signing);

// Ends the channel's rollout: its feed offers its own release alone again. Installations that
// took the rolled-out release keep it, unless `allowDowngrade` signs the feed as a rollback,
// which moves them back too. Throws Failure when no rollout is under way.
Feed HaltRollout(const std::filesystem::path& server, const std::wstring& channel,
                 const Signing& signing, bool allowDowngrade);

struct PruneOutcome {
  std::vector<std::wstring> removed;  // relative to the server folder, "/" between folders
  std::uint64_t bytes = 0;
  std::vector<std::wstring> kept;  // the versions that stay
};

// How long what a feed named stays after the feed names it no more: a player who read the feed
// before may still be downloading it.
inline constexpr std::chrono::hours kDefaultGrace{48};

// Removes the archives, lists and other documents of every release but the `keep` newest, those a
// channel's feed names (its release, or a rollout's) and those a feed named within `grace` before
// `now` (by the feed history); then the blobs (with their packed forms and the patches that make
// them) no remaining list names, and launcher installers no feed names nor named within `grace`.
// With `dryRun` nothing is removed: the outcome says what would be.
PruneOutcome Prune(const std::filesystem::path& server, std::size_t keep, bool dryRun,
                   std::chrono::hours grace = kDefaultGrace,
                   std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

}  // namespace launcher::publish
