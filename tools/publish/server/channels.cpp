#include "tools/publish/server/channels.h"

#include <algorithm>
#include <optional>
#include <set>
#include <system_error>

#include "launcher/feed/file_list.h"
#include "launcher/feed/server_layout.h"
#include "launcher/feed/version.h"
#include "launcher/store/kept_files.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"
#include "launcher/transfer/sha256.h"
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
  const std::vector<PublishedRelease> releases = PublishedReleases(server);
  const auto found = std::find_if(releases.begin(), releases.end(),
                                  [&](const auto& release) { return release.version == version; });
  if (found == releases.end()) {
    throw Failure{Format(L"{} isn't published in {}: publish it to a channel first", version,
                         WideFromPath(server))};
  }
  RefuseDowngrade(published, version, allowDowngrade);
  const auto archive = server / PathFromWide(found->archive);
  Feed feed = published;
  feed.rollback = allowDowngrade && !published.release.version.empty() &&
                  IsNewerVersion(published.release.version, version);
  feed.release = {version, found->archive, HashFile(archive).Hex(), SizeOf(archive)};
  feed.files = found->list;
  feed.filesSha256 = Sha256Hex(ReadWholeFile(server / PathFromWide(found->list)));
  const auto digestOf = [&](const std::wstring& name) {
    return name.empty() ? L"" : Sha256Hex(ReadWholeFile(server / PathFromWide(name)));
  };
  feed.chunks = found->chunks;
  feed.chunksSha256 = digestOf(found->chunks);
  feed.blocks = found->blocks;
  feed.blocksSha256 = digestOf(found->blocks);
  feed.manifest = found->manifest;
  feed.manifestSha256 = digestOf(found->manifest);
  ServerChanges changes;
  feed = PublishFeed(changes, server / PathFromWide(feedName), feed, published, signing);
  changes.Commit();
  return feed;
}

PruneOutcome Prune(const std::filesystem::path& server, std::size_t keep, bool dryRun) {
  // What any channel names stays, whatever its age.
  std::set<std::wstring> named;
  for (const std::wstring& feedName : ChannelFeeds(server)) {
    const Feed feed = ReadPublishedFeed(server, feedName);
    named.insert({feed.release.file, feed.files});
    if (feed.launcher) named.insert(feed.launcher->file);
  }
  const std::vector<PublishedRelease> releases = PublishedReleases(server);
  PruneOutcome outcome;
  std::vector<std::wstring> going;
  for (std::size_t i = 0; i < releases.size(); ++i) {
    const PublishedRelease& release = releases[i];
    if (i + keep >= releases.size() || named.count(release.archive) || named.count(release.list)) {
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
    if (layout::IsInstallerName(name) && !named.count(name)) {
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
  return outcome;
}

}  // namespace launcher::publish
