#include "launcher/update/prepare.h"

#include <system_error>

#include "launcher/feed/feed.h"
#include "launcher/feed/version.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/text.h"
#include "launcher/text/website.h"
#include "launcher/transfer/download.h"
#include "launcher/transfer/sha256.h"
#include "launcher/transfer/text_fetch.h"
#include "launcher/trust/feed_trust.h"

namespace launcher {

namespace {

constexpr double kMegabyte = 1048576.0;
constexpr wchar_t kInstallerPrefix[] = L"Quellorn-Launcher-";

// The feed, when it could be fetched and read and, for a launcher with keys, believed.
struct FetchedFeed {
  std::optional<Feed> feed;
  bool untrusted = false;  // fetched and read, but not believed
};

FetchedFeed FetchFeed(const std::wstring& feedUrl, const ClientStore& store,
                      const FeedTrust& trust) {
  std::string text;
  Feed feed;
  try {
    // Never a cache's stale copy: an old feed would hold players back.
    text = GetText(feedUrl, kFeedLimit, true);
    feed = ParseFeed(text);
  } catch (const Failure&) {
    return {};
  }
  if (trust.keys.empty()) return {feed};
  std::string signatures;
  try {
    signatures = GetText(feedUrl + L".sig", kSignatureLimit, true);
  } catch (const Failure&) {
    return {std::nullopt, true};
  }
  if (WhyUntrusted(text, feed, signatures, trust.keys, trust.now(), store.AcceptedSequence())) {
    return {std::nullopt, true};
  }
  // A failure to record it only weakens the protection against replays; the feed is good.
  store.AcceptSequence(*feed.sequence);
  return {feed};
}

// The digest of what the held file holds, read from its start.
std::wstring HashHeld(HeldFile& held) {
  Sha256 hasher;
  std::vector<char> buffer(kHashBufferSize);
  for (;;) {
    const std::int64_t got = held.Read(buffer.data(), buffer.size());
    if (got < 0) return {};
    if (got == 0) return hasher.FinishHex();
    hasher.Add(buffer.data(), static_cast<std::size_t>(got));
  }
}

// The installer of `launcher` downloaded into a fresh folder only this user can write, then read
// again through a handle that keeps others from changing it; nothing (and no folder left) when
// any of it fails.
std::optional<Ready> DownloadLauncher(const Release& launcher, const std::wstring& baseUrl,
                                      const ProgressCallback& progress,
                                      const std::filesystem::path& temporaryDirectory) {
  const std::filesystem::path folder =
      MakePrivateFolder(temporaryDirectory, PathFromWide(kInstallerPrefix).native());
  if (folder.empty()) return std::nullopt;
  const auto installer =
      folder / PathFromWide(std::wstring(kInstallerPrefix) + launcher.version + L".exe");
  try {
    const double totalMegabytes = static_cast<double>(launcher.size) / kMegabyte;
    DownloadWithRetries(baseUrl + launcher.file, launcher.size, launcher.sha256, installer,
                        ReportLauncherProgress{launcher, progress, totalMegabytes}, SleepFor);
    std::shared_ptr<HeldFile> held = HeldFile::Open(installer);
    if (held && HashHeld(*held) == launcher.sha256) return Ready{installer, true, std::move(held)};
  } catch (const Failure&) {
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return std::nullopt;
}

// The release's file list when it can be had and its digest is the feed's; else none, silently.
std::vector<Listed> FetchFileList(const Feed& feed, const std::wstring& baseUrl) {
  if (feed.files.empty() || !IsPlainName(feed.files)) return {};
  try {
    const std::string text = GetText(baseUrl + feed.files, kFileListLimit);
    if (Sha256Hex(text) != feed.filesSha256) return {};
    return ParseFileList(text);
  } catch (const Failure&) {
    return {};
  }
}

}  // namespace

void ReportLauncherProgress::operator()(std::uint64_t held) const {
  const double fraction = static_cast<double>(held) / static_cast<double>(launcher.size);
  progress({Format(L"Updating the launcher to {}\u2026 {:.1f} of {:.1f} MB", launcher.version,
                   fraction * totalMegabytes, totalMegabytes),
            fraction});
}

void ReportInstallProgress::operator()(Stage stage, std::uint64_t done, std::uint64_t total) const {
  const double fraction = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
  const std::wstring label =
      stage == Stage::Keeping ? title + L": keeping what hasn't changed" : title;
  progress({Format(L"{}\u2026 {:.0f} of {:.0f} MB", label, static_cast<double>(done) / kMegabyte,
                   static_cast<double>(total) / kMegabyte),
            fraction});
}

Ready Prepare(const std::wstring& feedUrl, const ClientStore& store,
              const ProgressCallback& progress, bool launcherUpdateAllowed,
              const std::filesystem::path& temporaryDirectory, const FeedTrust& trust) {
  const std::wstring installed = store.Current();
  const Ready installedReady{store.Executable(installed), false, nullptr};
  const size_t lastSlash = feedUrl.rfind(L'/');
  const std::wstring baseUrl =
      lastSlash == std::wstring::npos ? L"" : feedUrl.substr(0, lastSlash + 1);
  progress({L"Looking for updates\u2026", std::nullopt});

  const FetchedFeed fetched = FetchFeed(feedUrl, store, trust);
  const std::optional<Feed>& feed = fetched.feed;
  if (!feed) {
    if (installed.empty() && fetched.untrusted) {
      throw Failure{L"The update server's answer couldn't be trusted. Try again later."};
    }
    if (installed.empty()) {
      throw Failure{L"Couldn't reach " + WebsiteHost() + L". Check your connection and try again."};
    }
    return installedReady;
  }

  if (launcherUpdateAllowed && feed->launcher && IsUsableRelease(*feed->launcher) &&
      IsNewerVersion(feed->launcher->version, kOwnVersion)) {
    if (auto ready = DownloadLauncher(*feed->launcher, baseUrl, progress, temporaryDirectory)) {
      return *ready;
    }
  }

  const Release& release = feed->release;
  if (!IsUsableRelease(release) || !IsStorableVersion(release.version)) {
    if (installed.empty()) {
      throw Failure{L"The update server answered with nothing to install. Try again later."};
    }
    return installedReady;
  }
  if (!installed.empty() && Lowercase(installed) == Lowercase(release.version)) {
    store.Prune();
    return installedReady;
  }

  // Fetched even with nothing installed to keep from: the staged version is checked against it.
  const std::vector<Listed> listed = FetchFileList(*feed, baseUrl);
  const std::wstring title = installed.empty() ? std::wstring(L"Downloading Quellorn")
                                               : Format(L"Updating to {}", release.version);
  try {
    store.Install(release, baseUrl, listed, ReportInstallProgress{title, progress});
  } catch (const Failure& failure) {
    if (!installed.empty()) return installedReady;
    throw Failure{Format(L"The download failed. {}.", failure.message)};
  } catch (const std::filesystem::filesystem_error& error) {
    if (!installed.empty()) return installedReady;
    throw Failure{Format(L"The download couldn't be kept. {}.", Widen(error.what()))};
  }
  store.Prune();
  return {store.Executable(release.version), false, nullptr};
}

}  // namespace launcher
