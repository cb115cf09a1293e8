#include "tools/publish/server/channels.h"

#include <algorithm>
#include <array>
#include <optional>
#include <random>
#include <set>
#include <system_error>

#include "launcher/feed/file_list.h"
#include "launcher/feed/server_layout.h"
#include "launcher/feed/version.h"
#include "launcher/store/kept_files.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/hex.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"
#include "launcher/transfer/sha256.h"
#include "tools/publish/server/feed_history.h"
#include "tools/publish/server/server_changes.h"

namespace launcher::publish {
namespace {

std::wstring NameOf(const std::filesystem::directory_entry& entry) {
  return WideFromPath(entry.path().filename());
}

// The plain files of the folder (not below it), by name.
std::vector<std::wstring> FilesIn(const std::filesystem::path& folder) {
  std::vector<std::wstring> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.is_regular_file(error)) names.push_back(NameOf(entry));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::uint64_t SizeOf(const std::filesystem::path& file) {
  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(file, error);
  return error ? 0 : size;
}

// The release `version` and its documents as a feed names them, read from the folder as they
// stand; a rollout's percent and salt are left to the caller. Throws Failure when it isn't
// published there.
Rollout PublishedDocuments(const std::filesystem::path& server, const std::wstring& version) {
  const std::vector<PublishedRelease> releases = PublishedReleases(server);
  const auto found = std::find_if(releases.begin(), releases.end(),
                                  [&](const auto& release) { return release.version == version; });
  if (found == releases.end()) {
    throw Failure{Format(L"{} isn't published in {}: publish it to a channel first", version,
                         WideFromPath(server))};
  }
  const auto digestOf = [&](const std::wstring& name) {
    return name.empty() ? L"" : Sha256Hex(ReadWholeFile(server / PathFromWide(name)));
  };
  const auto archive = server / PathFromWide(found->archive);
  Rollout documents;
  documents.release = {version, found->archive, HashFile(archive).Hex(), SizeOf(archive)};
  documents.files = found->list;
  documents.filesSha256 = digestOf(found->list);
  documents.chunks = found->chunks;
  documents.chunksSha256 = digestOf(found->chunks);
  documents.blocks = found->blocks;
  documents.blocksSha256 = digestOf(found->blocks);
  documents.manifest = found->manifest;
  documents.manifestSha256 = digestOf(found->manifest);
  return documents;
}

// A salt no other rollout has: 16 bytes from the system's own source of randomness.
std::wstring NewSalt() {
  std::random_device random;
  std::array<std::uint8_t, 16> bytes{};
  for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return Widen(HexOf(bytes.data(), bytes.size()));
}

// Writes the channel's feed anew, signed, and returns it as it now stands.
Feed Republish(const std::filesystem::path& server, const std::wstring& feedName, const Feed& feed,
               const Feed& published, const Signing& signing) {
  ServerChanges changes;
  Feed written = PublishFeed(changes, server / PathFromWide(feedName), feed, published, signing);
  changes.Commit();
  return written;
}

}  // namespace

std::wstring FeedNameOf(const std::wstring& channel) {
  if (!channel.empty() && !layout::IsChannelName(channel)) {
    throw Failure{
        Format(L"\"{}\" isn't a channel name: use lower-case letters, digits and "
               L"\"-\" inside",
               channel)};
  }
  return layout::FeedName(channel);
}

std::vector<std::wstring> ChannelFeeds(const std::filesystem::path& server) {
  std::vector<std::wstring> feeds;
  for (const std::wstring& name : FilesIn(server)) {
    if (name == layout::FeedName(L"")) {
      feeds.insert(feeds.begin(), name);
    } else if (layout::IsFeedName(name)) {
      feeds.push_back(name);
    }
  }
  return feeds;
}

Feed ReadPublishedFeed(const std::filesystem::path& server, const std::wstring& feedName) {
  const auto path = server / PathFromWide(feedName);
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return {};
  try {
    return ParseFeed(ReadWholeFile(path));
  } catch (const Failure&) {
    throw Failure{Format(L"{} isn't a feed; move it away to publish here", WideFromPath(path))};
  }
}

void RefuseDowngrade(const Feed& published, const std::wstring& version, bool allowDowngrade) {
  if (allowDowngrade || published.release.version.empty() ||
      !IsNewerVersion(published.release.version, version)) {
    return;
  }
  throw Failure{
      Format(L"{} is older than {}, which the feed names: every player would be "
             L"moved back. Give --allow-downgrade if that is what you want",
             version, published.release.version)};
}

std::vector<PublishedRelease> PublishedReleases(const std::filesystem::path& server) {
  const std::vector<std::wstring> names = FilesIn(server);
  const auto has = [&](const std::wstring& name) {
    return std::binary_search(names.begin(), names.end(), name);
  };
  std::vector<PublishedRelease> releases;
  for (const std::wstring& name : names) {
    const std::optional<std::wstring> version = layout::VersionOfFileList(name);
    if (!version) continue;
    for (const layout::ArchiveForm form : layout::kArchiveForms) {
      const std::wstring archive = layout::ArchiveName(*version, form);
      if (has(archive)) {
        const std::wstring chunks = layout::ChunkIndexName(*version);
        const std::wstring blocks = layout::BlockListName(*version);
        const std::wstring manifest = layout::ManifestName(*version);
        releases.push_back({*version, archive, name, has(chunks) ? chunks : L"",
                            has(blocks) ? blocks : L"", has(manifest) ? manifest : L""});
        break;
      }
    }
  }
  std::stable_sort(releases.begin(), releases.end(), [](const auto& a, const auto& b) {
    return IsNewerVersion(b.version, a.version);
  });
  return releases;
}

Feed Promote(const std::filesystem::path& server, const std::wstring& version,
             const std::wstring& channel, const Signing& signing, bool allowDowngrade) {
  const std::wstring feedName = FeedNameOf(channel);
  const Feed published = ReadPublishedFeed(server, feedName);
  const Rollout documents = PublishedDocuments(server, version);
  RefuseDowngrade(published, version, allowDowngrade);
  Feed feed = published;
  feed.rollback = allowDowngrade && !published.release.version.empty() &&
                  IsNewerVersion(published.release.version, version);
  feed.release = documents.release;
  feed.files = documents.files;
  feed.filesSha256 = documents.filesSha256;
  feed.chunks = documents.chunks;
  feed.chunksSha256 = documents.chunksSha256;
  feed.blocks = documents.blocks;
  feed.blocksSha256 = documents.blocksSha256;
  feed.manifest = documents.manifest;
  feed.manifestSha256 = documents.manifestSha256;
  // Every player is offered the one release now: a rollout under way ends.
  feed.rollout.reset();
  return Republish(server, feedName, feed, published, signing);
}

Feed RollOut(const std::filesystem::path& server, const std::wstring& version,
             std::uint32_t percent, const std::wstring& channel, const Signing& signing) {
  if (percent >= 100) return Promote(server, version, channel, signing, false);
  const std::wstring feedName = FeedNameOf(channel);
  const Feed published = ReadPublishedFeed(server, feedName);
  if (!IsUsableRelease(published.release)) {
    throw Failure{Format(L"{} names no release yet: a rollout needs one to offer the other players",
                         feedName)};
  }
  if (!IsNewerVersion(version, published.release.version)) {
    throw Failure{
        Format(L"{} isn't newer than {}, which {} names: roll out a newer release, or move "
               L"players back with promote --allow-downgrade",
               version, published.release.version, feedName)};
  }
  Rollout rollout = PublishedDocuments(server, version);
  rollout.percent = percent;
  // The same release again keeps its salt: raising the share only adds players.
  const bool same = published.rollout && published.rollout->release.version == version;
  rollout.salt = same ? published.rollout->salt : NewSalt();
  Feed feed = published;
  feed.rollback = false;
  feed.rollout = std::move(rollout);
  return Republish(server, feedName, feed, published, signing);
}

Feed HaltRollout(const std::filesystem::path& server, const std::wstring& channel,
                 const Signing& signing, bool allowDowngrade) {
  const std::wstring feedName = FeedNameOf(channel);
  const Feed published = ReadPublishedFeed(server, feedName);
  if (!published.rollout) throw Failure{Format(L"{} has no rollout under way", feedName)};
  Feed feed = published;
  feed.rollout.reset();
  // Signed as a rollback, the feed's own release also takes back those who have the other.
  feed.rollback = allowDowngrade;
  return Republish(server, feedName, feed, published, signing);
}

namespace {

// What stays whatever its age: what any channel names now, and what any feed named within the
// grace period, for the players who read it then.
struct Named {
  std::set<std::wstring> files;
  std::set<std::wstring> versions;
};

Named NamedByFeeds(const std::filesystem::path& server,
                   std::chrono::system_clock::time_point since) {
  Named named;
  for (const std::wstring& feedName : ChannelFeeds(server)) {
    const Feed feed = ReadPublishedFeed(server, feedName);
    named.files.insert({feed.release.file, feed.files});
    if (feed.rollout) named.files.insert({feed.rollout->release.file, feed.rollout->files});
    if (feed.launcher) named.files.insert(feed.launcher->file);
  }
  RecentlyNamed recent = NamedSince(server, since);
  named.files.insert(recent.installers.begin(), recent.installers.end());
  named.versions = std::move(recent.versions);
  return named;
}

// Counts `going` into `outcome` and, unless `dryRun`, removes it.
void RemoveFiles(const std::filesystem::path& server, const std::vector<std::wstring>& going,
                 bool dryRun, PruneOutcome& outcome) {
  for (const std::wstring& name : going) {
    const auto path = server / PathFromWide(name);
    outcome.bytes += SizeOf(path);
    outcome.removed.push_back(name);
    if (!dryRun) {
      std::error_code error;
      if (!std::filesystem::remove(path, error) && error) {
        throw Failure{
            Format(L"{} couldn't be removed: {}", WideFromPath(path), Widen(error.message()))};
      }
    }
  }
}

}  // namespace

PruneOutcome Prune(const std::filesystem::path& server, std::size_t keep, bool dryRun,
                   std::chrono::hours grace, std::chrono::system_clock::time_point now) {
  const Named named = NamedByFeeds(server, now - grace);
  const std::vector<PublishedRelease> releases = PublishedReleases(server);
  PruneOutcome outcome;
  std::vector<std::wstring> going;
  for (std::size_t i = 0; i < releases.size(); ++i) {
    const PublishedRelease& release = releases[i];
    if (i + keep >= releases.size() || named.files.count(release.archive) ||
        named.files.count(release.list) || named.versions.count(release.version)) {
      outcome.kept.push_back(release.version);
    } else {
      going.insert(going.end(), {release.archive, release.list});
      for (const std::wstring* document : {&release.chunks, &release.blocks, &release.manifest}) {
        if (!document->empty()) going.push_back(*document);
      }
    }
  }
  // Blobs stay while any list that stays names them.
  std::set<Digest> needed;
  for (const std::wstring& name : FilesIn(server)) {
    const bool list = layout::VersionOfFileList(name).has_value();
    if (layout::IsInstallerName(name) && !named.files.count(name)) {
      going.push_back(name);
    }
    if (!list || std::find(going.begin(), going.end(), name) != going.end()) continue;
    try {
      for (const Listed& entry : ParseFileList(ReadWholeFile(server / PathFromWide(name)))) {
        needed.insert(entry.sha256);
      }
    } catch (const Failure&) {
      throw Failure{Format(L"{} isn't a file list; nothing was removed", name)};
    }
  }
  for (const std::wstring& name : FilesIn(server / layout::kBlobFolder)) {
    const std::optional<Digest> content = layout::ContentOfBlobFile(name);
    if (content && !needed.count(*content)) {
      going.push_back(std::wstring(layout::kBlobFolder) + L"/" + name);
    }
  }
  RemoveFiles(server, going, dryRun, outcome);
  return outcome;
}

}  // namespace launcher::publish
