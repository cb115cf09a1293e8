#include "launcher/feed/server_layout.h"

#include <algorithm>

#include "launcher/text/text.h"

namespace launcher::layout {

namespace {

constexpr std::wstring_view kLiveFeed = L"latest.json";
constexpr std::wstring_view kChannelFeedPrefix = L"latest-";
constexpr std::wstring_view kFeedEnding = L".json";
constexpr std::wstring_view kReleasePrefix = L"Quellorn-";
constexpr std::wstring_view kListEnding = L"-files.txt";
constexpr std::wstring_view kBlobEnding = L".bin";
constexpr std::wstring_view kPackedEnding = L".zst";
constexpr std::wstring_view kPatchEnding = L".patch";

std::wstring Joined(std::wstring_view a, std::wstring_view b, std::wstring_view c = {}) {
  std::wstring name(a);
  name += b;
  name += c;
  return name;
}

}  // namespace

bool IsChannelName(std::wstring_view channel) {
  const auto allowed = [](wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-';
  };
  return !channel.empty() && std::all_of(channel.begin(), channel.end(), allowed) &&
         channel.front() != L'-' && channel.back() != L'-';
}

std::wstring FeedName(std::wstring_view channel) {
  return channel.empty() ? std::wstring(kLiveFeed)
                         : Joined(kChannelFeedPrefix, channel, kFeedEnding);
}

bool IsFeedName(std::wstring_view name) {
  if (name == kLiveFeed) return true;
  if (!name.starts_with(kChannelFeedPrefix) || !name.ends_with(kFeedEnding)) return false;
  return IsChannelName(name.substr(kChannelFeedPrefix.size(),
                                   name.size() - kChannelFeedPrefix.size() - kFeedEnding.size()));
}

std::wstring SignatureName(std::wstring_view feed) {
  return Joined(feed, kSignatureSuffix);
}

std::wstring BlobName(const Digest& sha256) {
  return Joined(kBlobFolder, L"/", Joined(sha256.Hex(), kBlobEnding));
}

std::optional<Digest> DigestOfBlob(std::wstring_view fileName) {
  if (fileName.size() != 64 + kBlobEnding.size() || !fileName.ends_with(kBlobEnding)) {
    return std::nullopt;
  }
  return Digest::FromHex(Narrow(fileName.substr(0, 64)));
}

std::wstring PackedBlobName(const Digest& sha256) {
  return Joined(kBlobFolder, L"/", Joined(sha256.Hex(), kPackedEnding));
}

std::wstring PatchName(const Digest& target, const Digest& base) {
  return Joined(kBlobFolder, L"/", Joined(target.Hex(), L"-", Joined(base.Hex(), kPatchEnding)));
}

std::optional<Digest> ContentOfBlobFile(std::wstring_view fileName) {
  const bool patch = fileName.size() == 64 + 1 + 64 + kPatchEnding.size() && fileName[64] == L'-' &&
                     fileName.ends_with(kPatchEnding) &&
                     Digest::FromHex(Narrow(fileName.substr(65, 64)));
  const bool packed =
      fileName.size() == 64 + kPackedEnding.size() && fileName.ends_with(kPackedEnding);
  if (patch || packed) return Digest::FromHex(Narrow(fileName.substr(0, 64)));
  return DigestOfBlob(fileName);
}

std::wstring ArchiveName(std::wstring_view version, ArchiveForm form) {
  const wchar_t* const ending = form == ArchiveForm::Zstd   ? L".tar.zst"
                                : form == ArchiveForm::Gzip ? L".tar.gz"
                                                            : L".tar";
  return Joined(kReleasePrefix, version, ending);
}

std::wstring FileListName(std::wstring_view version) {
  return Joined(kReleasePrefix, version, kListEnding);
}

std::wstring ChunkIndexName(std::wstring_view version) {
  return Joined(kReleasePrefix, version, L"-chunks.txt");
}

std::wstring BlockListName(std::wstring_view version) {
  return Joined(kReleasePrefix, version, L"-blocks.txt");
}

std::wstring ManifestName(std::wstring_view version) {
  return Joined(kReleasePrefix, version, L"-manifest.zst");
}

std::optional<std::wstring> VersionOfFileList(std::wstring_view name) {
  // Prefix and ending overlap in "Quellorn-files.txt": longer than both, or no version at all.
  if (name.size() <= kReleasePrefix.size() + kListEnding.size() ||
      !name.starts_with(kReleasePrefix) || !name.ends_with(kListEnding) ||
      name.starts_with(kInstallerPrefix)) {
    return std::nullopt;
  }
  return std::wstring(
      name.substr(kReleasePrefix.size(), name.size() - kReleasePrefix.size() - kListEnding.size()));
}

std::wstring InstallerName(std::wstring_view version) {
  return Joined(kInstallerPrefix, version, L".exe");
}

std::wstring InstallerDocumentName(std::wstring_view version) {
  return Joined(kInstallerPrefix, version, L".json");
}

std::wstring RootName(std::uint64_t version) {
  return Joined(kRootFolder, L"/", Joined(std::to_wstring(version), L".json"));
}

bool IsInstallerName(std::wstring_view name) {
  return name.starts_with(kInstallerPrefix) && name.ends_with(L".exe");
}

std::optional<Served> ServedAs(std::wstring_view path) {
  if (path.empty() || path.front() == L'.' || path.find(L"/.") != std::wstring_view::npos) {
    return std::nullopt;
  }
  std::wstring_view document = path;
  if (document.ends_with(kSignatureSuffix)) {
    document.remove_suffix(std::wstring_view(kSignatureSuffix).size());
  }
  if (document == kTimestampName) return Served::Timestamp;
  if (IsFeedName(document)) return Served::Feed;
  if (document.starts_with(Joined(kRootFolder, L"/")) && document.ends_with(kFeedEnding)) {
    return Served::Root;
  }
  if (document.starts_with(kInstallerPrefix) && document.ends_with(kFeedEnding)) {
    return Served::InstallerDocument;
  }
  return Served::Content;
}

}  // namespace launcher::layout
