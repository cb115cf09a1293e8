#pragma once
// One server folder, several feeds: "latest.json" is the live channel and "latest-NAME.json" the
// channel NAME. Every feed names archives, lists and blobs of the same folder, so a blob is
// stored once whatever the channels, and a launcher picks its channel by the feed URL alone.
// Besides publishing into a channel: pointing a channel at a release already published
// (promote), and removing the releases no channel needs any more (prune).

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
// archive and list as they stand. The channel's launcher stays. Refuses a downgrade unless
// `allowDowngrade`. Returns the feed as written.
Feed Promote(const std::filesystem::path& server, const std::wstring& version,
             const std::wstring& channel, const Signing& signing, bool allowDowngrade);

struct PruneOutcome {
  std::vector<std::wstring> removed;  // relative to the server folder, "/" between folders
  std::uint64_t bytes = 0;
  std::vector<std::wstring> kept;  // the versions that stay
};

// Removes the archives, lists and other documents of every release but the `keep` newest and
// those a channel's feed names, the blobs (with their packed forms and the patches that make
// them) no remaining list names, and launcher installers no feed names. With
// `dryRun` nothing is removed: the outcome says what would be.
PruneOutcome Prune(const std::filesystem::path& server, std::size_t keep, bool dryRun);

}  // namespace launcher::publish
