#include "launcher/update/prepare.h"

#include <chrono>
#include <cmath>
#include <functional>
#include <system_error>
#include <utility>

#include "launcher/feed/chunk_index.h"
#include "launcher/feed/feed.h"
#include "launcher/feed/manifest.h"
#include "launcher/feed/server_layout.h"
#include "launcher/feed/version.h"
#include "launcher/platform/folders.h"
#include "launcher/store/zstd_unpack.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/log.h"
#include "launcher/text/saturating.h"
#include "launcher/text/text.h"
#include "launcher/text/website.h"
#include "launcher/transfer/block_list.h"
#include "launcher/transfer/download.h"
#include "launcher/transfer/interruptions.h"
#include "launcher/transfer/sha256.h"
#include "launcher/transfer/text_fetch.h"
#include "launcher/transfer/transfer_settings.h"
#include "launcher/trust/feed_trust.h"
#include "launcher/update/rollout.h"
#include "launcher/update/trusted_feed.h"

namespace launcher {

namespace {

constexpr double kMegabyte = 1048576.0;

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

// The installer of `launcher` downloaded into a fresh folder only this user can write, then held
// open until it is started (on Windows, read again through the hold, which keeps others from
// changing it); nothing (and no folder left) when any of it fails.
std::optional<Ready> DownloadLauncher(const Release& launcher, const std::wstring& baseUrl,
                                      const ProgressCallback& progress,
                                      const std::filesystem::path& temporaryDirectory) {
  const std::filesystem::path folder =
      MakePrivateFolder(temporaryDirectory, PathFromWide(layout::kInstallerPrefix).native());
  if (folder.empty()) return std::nullopt;
  const auto installer = folder / PathFromWide(layout::InstallerName(launcher.version));
  try {
    const UpdateDeadline deadline(launcher.size);
    const double totalMegabytes = static_cast<double>(launcher.size) / kMegabyte;
    DownloadWithRetries(baseUrl + launcher.file, launcher.size, launcher.sha256, installer,
                        ReportLauncherProgress{launcher, progress, totalMegabytes}, SleepFor);
    std::shared_ptr<HeldFile> held = HeldFile::Open(installer);
    // Where holding keeps writers out, the bytes are read once more through the hold, so that what
    // starts is what was checked. Where it doesn't, that reading would prove nothing the
    // download's own check didn't: it read these very bytes back from the disk, in a folder
    // nobody else can write.
    if (held && (!HoldingKeepsWritersOut() || HashHeld(*held) == launcher.sha256)) {
      return Ready{installer, true, std::move(held)};
    }
    LogLine(L"The launcher installer changed after its download");
  } catch (const Failure& failure) {
    LogLine(L"The launcher installer couldn't be had: " + Described(failure));
  }
  std::error_code ignored;
  static_cast<void>(RemoveAll(folder, ignored));
  return std::nullopt;
}

// A document the feed names by `name` and `sha256` (the file list, the chunk index, the block
// list), read by `parse` from the blocks it arrived in; nothing when the feed names none. Throws
// Failure when it can't be had, isn't the one named or can't be read.
template <typename Parse>
auto FetchNamed(const std::wstring& baseUrl, const std::wstring& name, const std::wstring& sha256,
                const wchar_t* what, const Parse& parse) -> std::optional<decltype(parse({}))> {
  if (name.empty()) return std::nullopt;
  if (!IsPlainName(name)) throw Failure{Format(L"The release's {} isn't one", what)};
  std::vector<std::string> blocks = GetTextInBlocks(baseUrl + name, kFileListLimit);
  Sha256 digest;
  for (const std::string& block : blocks) digest.Add(block.data(), block.size());
  if (digest.FinishHex() != sha256) {
    throw Failure{Format(L"The release's {} isn't the one the feed names", what)};
  }
  return parse(std::move(blocks));
}

// The same for a document the launcher can do without: nothing, with a line in the log, when the
// feed's can't be used.
template <typename Parse>
auto FetchOptional(const std::wstring& baseUrl, const std::wstring& name,
                   const std::wstring& sha256, const wchar_t* what, const Parse& parse)
    -> std::optional<decltype(parse({}))> {
  try {
    return FetchNamed(baseUrl, name, sha256, what, parse);
  } catch (const Failure& failure) {
    LogLine(Format(L"The {} isn't used: {}", what, Described(failure)));
    return std::nullopt;
  }
}

std::string Joined(const std::vector<std::string>& blocks) {
  std::size_t size = 0;
  for (const std::string& block : blocks) size += block.size();
  std::string text;
  text.reserve(size);
  for (const std::string& block : blocks) text += block;
  return text;
}

// The release's file list; nothing when the feed names none. A list the feed names but that
// can't be used refuses the release with it (Failure): the archive is never unpacked unchecked.
std::optional<std::vector<Listed>> FetchFileList(const Feed& feed, const std::wstring& baseUrl) {
  return FetchNamed(
      baseUrl, feed.files, feed.filesSha256, L"file list",
      [](std::vector<std::string> blocks) { return ParseFileList(std::move(blocks)); });
}

// The release's chunk index when the feed names one that can be used; else none, with a line in
// the log: large files are then fetched whole.
std::vector<ChunkedFile> FetchChunkIndex(const Feed& feed, const std::wstring& baseUrl) {
  return FetchOptional(
             baseUrl, feed.chunks, feed.chunksSha256, L"chunk index",
             [](const std::vector<std::string>& blocks) { return ParseChunkIndex(Joined(blocks)); })
      .value_or(std::vector<ChunkedFile>());
}

// The release's manifest when the feed names one: its list, chunks and stored forms in place of the
// list and the chunk index. One the feed names but that can't be used refuses the release, as a
// list would.
std::optional<Manifest> FetchManifest(const Feed& feed, const std::wstring& baseUrl) {
  return FetchNamed(baseUrl, feed.manifest, feed.manifestSha256, L"manifest",
                    [](std::vector<std::string> blocks) {
                      // Each form of a large manifest goes once the next is made: the blocks
                      // as they came, the packed bytes, the text, read block by block.
                      std::string packed = Joined(blocks);
                      blocks = {};
                      std::optional<std::vector<std::string>> text =
                          UnpackFrames(packed, kLargestManifest);
                      packed = {};
                      if (!text) throw Failure{L"The release's manifest isn't one"};
                      return ParseManifest(std::move(*text));
                    });
}

// The archive's block list when the feed names one that can be used; else none, with a line in
// the log: the archive is then unpacked only once its whole digest has matched.
std::optional<BlockList> FetchBlockList(const Feed& feed, const std::wstring& baseUrl) {
  return FetchOptional(baseUrl, feed.blocks, feed.blocksSha256, L"block list",
                       [&](const std::vector<std::string>& blocks) {
                         return ParseBlockList(Joined(blocks), feed.release.size);
                       });
}

// An up-to-date installed version brought back to its file list where it no longer holds it:
// by its record (a look at each file, nothing read) or, when `repair`, by hashing every file.
// Failures are logged only: the version stays as startable as it was.
void RepairInstalled(const Feed& feed, const std::wstring& baseUrl, const ClientStore& store,
                     const std::wstring& installed, bool repair, const ProgressCallback& progress) {
  ReportInstallProgress report{L"Repairing Quellorn", progress};
  try {
    Inspection inspection;
    if (repair) {
      std::optional<std::vector<Listed>> listed = FetchFileList(feed, baseUrl);
      if (!listed || listed->empty()) {
        LogLine(L"Nothing to repair by: the feed names no file list");
        return;
      }
      inspection = store.InspectByHashing(installed, std::move(*listed), std::ref(report));
      LogLine(Format(L"Hashed every file of {}: {} of {} differ from the file list", installed,
                     inspection.damaged.size(), inspection.listed.size()));
    } else {
      inspection = store.InspectByRecord(installed);
    }
    if (inspection.damaged.empty()) return;
    LogLine(Format(L"Repairing {}: {} of its {} files changed, the first {}", installed,
                   inspection.damaged.size(), inspection.listed.size(),
                   Widen(inspection.damaged.front().path)));
    std::uint64_t damaged = 0;
    for (const Listed& entry : inspection.damaged) damaged = SaturatingAdd(damaged, entry.size);
    const UpdateDeadline deadline(damaged);
    store.Repair(installed, baseUrl, inspection, std::ref(report));
    LogLine(Format(L"Repaired {}: {} bytes downloaded", installed, report.Fetched()));
  } catch (const Failure& failure) {
    LogLine(L"The repair failed: " + Described(failure));
  } catch (const std::filesystem::filesystem_error& error) {
    LogLine(L"The repair failed: " + Widen(error.what()));
  }
}

// The feed's release fetched and installed over `installed` (perhaps nothing): its manifest or
// else its file list (refusing the release when it can't be used), the chunk index for an update,
// and the archive's block list only when the archive is taken.
void InstallRelease(const Feed& feed, const std::wstring& baseUrl, const ClientStore& store,
                    const std::wstring& installed, ReportInstallProgress& report, bool repair,
                    UpdateSummary* summary) {
  const Release& release = feed.release;
  // Fetched even with nothing installed to keep from: the staged version is checked against it.
  Manifest manifest;
  if (std::optional<Manifest> named = FetchManifest(feed, baseUrl)) {
    manifest = std::move(*named);
  } else {
    manifest.listed = FetchFileList(feed, baseUrl).value_or(std::vector<Listed>());
    // Only an update has an installed file to take chunks from.
    if (!installed.empty() && !manifest.listed.empty()) {
      manifest.chunks = FetchChunkIndex(feed, baseUrl);
    }
  }
  LogLine(Format(L"Update from {} to {}: archive {} of {} bytes, file list of {} files",
                 installed.empty() ? std::wstring(L"nothing") : installed, release.version,
                 release.file, release.size, manifest.listed.size()));
  std::vector<Came> came;
  InstallOptions options{repair};
  if (summary != nullptr) options.came = &came;
  store.Install(
      release, baseUrl, manifest.listed, std::ref(report), manifest.chunks, options,
      [&] { return FetchBlockList(feed, baseUrl); }, manifest.stored);
  if (summary == nullptr) return;
  summary->how = came.empty() || came.front() == Came::Archive ? L"archive" : L"file by file";
  // Kept as the files came: the progress counts a copy that turned out changed as kept too.
  summary->kept = report.taken;
  for (std::size_t i = 0; i < came.size(); ++i) {
    summary->files.emplace_back(manifest.listed[i].path, came[i]);
    if (came[i] == Came::Linked || came[i] == Came::Copied || came[i] == Came::Earlier) {
      summary->kept = SaturatingAdd(summary->kept, manifest.listed[i].size);
    }
  }
}

// Installs the feed's release over `installed` (perhaps nothing) and names what to start: the new
// version, or the installed one when the install fails.
Ready UpdateTo(const Feed& feed, const std::wstring& baseUrl, const ClientStore& store,
               const std::wstring& installed, const ProgressCallback& progress, bool repair,
               UpdateSummary* summary) {
  const Release& release = feed.release;
  const std::wstring title = installed.empty() ? std::wstring(L"Downloading Quellorn")
                                               : Format(L"Updating to {}", release.version);
  const auto started = std::chrono::steady_clock::now();
  ReportInstallProgress report{title, progress};
  // What the player is told, and the fall-back the log records.
  const auto failed = [&](const std::wstring& shown, const std::wstring& detail) {
    LogLine(Format(L"{} failed: {}", release.version, detail));
    if (installed.empty()) throw Failure{shown, detail};
    LogLine(Format(L"Starting the installed {} instead", installed));
    return Ready{store.Executable(installed), false, nullptr};
  };
  // Too slow for now: the player is told why the installed version starts; what arrived stays
  // for the next start.
  const auto tooSlow = [&](const Failure& failure) {
    if (!installed.empty()) {
      progress({Format(L"Downloading is too slow right now: starting Quellorn {}, the update goes "
                       L"on next time\u2026",
                       installed),
                std::nullopt});
    }
    return failed(Format(L"The download failed. {}.", failure.message), Described(failure));
  };
  // The whole update, however its transfers go, ends at the slowest rate's pace. (The archive is
  // the most an update fetches.)
  const UpdateDeadline deadline(release.size);
  try {
    InstallRelease(feed, baseUrl, store, installed, report, repair, summary);
  } catch (const Stalled& failure) {
    return tooSlow(failure);
  } catch (const PastDeadline& failure) {
    return tooSlow(failure);
  } catch (const Failure& failure) {
    return failed(Format(L"The download failed. {}.", failure.message), Described(failure));
  } catch (const std::filesystem::filesystem_error& error) {
    // The words for the player; the library's text, with the paths, for support.
    return failed(Format(L"Quellorn's folder can't be written: {}.", Widen(error.code().message())),
                  Widen(error.what()));
  }
  LogLine(Format(L"Installed {} in {:.1f} s: {} bytes downloaded, {} kept from {}", release.version,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
                 report.Fetched(), report.Kept(), installed.empty() ? L"nothing" : installed));
  if (summary != nullptr) {
    summary->version = release.version;
    summary->fetched = report.Fetched();
  }
  store.Prune();
  return {store.Executable(release.version), false, nullptr};
}

// What starts without a believed feed: the installed version, telling the player since when
// updates couldn't be checked when the timestamp has expired; with nothing installed, a Failure.
Ready WithoutFeed(const FetchedFeed& fetched, const std::wstring& feedUrl,
                  const std::wstring& installed, const Ready& installedReady,
                  const ProgressCallback& progress) {
  if (installed.empty() && fetched.untrusted) {
    throw Failure{L"The update server's answer couldn't be trusted. Try again later."};
  }
  if (installed.empty()) {
    throw Failure{L"Couldn't reach " + HostOf(feedUrl) + L". Check your connection and try again."};
  }
  if (!fetched.staleSince.empty()) {
    const std::wstring since =
        fetched.staleSince.substr(0, 10) + L" " + fetched.staleSince.substr(11, 5);
    LogLine(L"Updates couldn't be checked since " + fetched.staleSince);
    progress({Format(L"Updates couldn't be checked since {} UTC: starting Quellorn {}\u2026", since,
                     installed),
              std::nullopt});
  }
  LogLine(L"Starting the installed " + installed + L" without the update server");
  return installedReady;
}

// The feed as this installation is offered it: a staged rollout's release in place of the
// feed's own when the installation's identity falls within the rollout's share.
Feed OfferedHere(const Feed& feed, const ClientStore& store) {
  if (!feed.rollout) return feed;
  Feed offered = OfferedFeed(feed, store.Identity());
  const bool in = offered.release == feed.rollout->release;
  LogLine(Format(L"{} is rolled out to {} % of the installations: this one is {}",
                 feed.rollout->release.version, feed.rollout->percent,
                 in ? std::wstring(L"among them")
                    : L"not among them, and is offered " + feed.release.version));
  return offered;
}

}  // namespace

bool ProgressPace::Changes(int kind, std::uint64_t done, std::uint64_t total, double unit) {
  const double count = static_cast<double>(done);
  const Shown now{
      kind, total, std::llround(count / unit),
      total == 0 ? 0 : static_cast<long long>(count * 1000 / static_cast<double>(total))};
  if (now == last_) return false;
  last_ = now;
  return true;
}

void ReportLauncherProgress::operator()(std::uint64_t held) {
  if (!pace.Changes(0, held, launcher.size, kMegabyte / 10)) return;
  const double fraction = static_cast<double>(held) / static_cast<double>(launcher.size);
  progress({Format(L"Updating the launcher to {}\u2026 {:.1f} of {:.1f} MB", launcher.version,
                   fraction * totalMegabytes, totalMegabytes),
            fraction});
}

void ReportInstallProgress::operator()(Stage stage, std::uint64_t done, std::uint64_t total) {
  if (stage == Stage::Unpacking) {
    progress({L"Unpacking Quellorn\u2026", std::nullopt});
    return;
  }
  switch (stage) {
    case Stage::Keeping:
      keptWhole = done;
      break;
    case Stage::Taking:
      taken = done;
      return;  // shown with the Patching report that follows
    case Stage::Patching:
      patched = done;
      break;
    case Stage::Downloading:
      downloaded = done;
      break;
    default:
      break;
  }
  // Whole megabytes once there are ten or more; tenths below, where whole ones would round a
  // small update to "0 of 0 MB".
  const double megabytes = static_cast<double>(total) / kMegabyte;
  const bool whole = megabytes >= 10;
  // A chunk taken moves the Patching line as much as one fetched.
  const std::uint64_t shown = stage == Stage::Patching ? done + taken : done;
  if (!pace.Changes(static_cast<int>(stage), shown, total, whole ? kMegabyte : kMegabyte / 10)) {
    return;
  }
  const std::wstring label = stage == Stage::Keeping    ? title + L": keeping what hasn't changed"
                             : stage == Stage::Checking ? title + L": checking every file"
                                                        : title;
  // Nothing to count: no "0 of 0 MB", and no bar that fills at once.
  if (total == 0) {
    progress({label + L"\u2026", std::nullopt});
    return;
  }
  const auto inMegabytes = [&](std::uint64_t bytes) {
    const double count = static_cast<double>(bytes) / kMegabyte;
    return whole ? Format(L"{:.0f}", count) : Format(L"{:.1f}", count);
  };
  const std::wstring counts =
      Format(L"{}\u2026 {} of {} MB", label, inMegabytes(done), inMegabytes(total));
  if (stage == Stage::Patching) {
    progress({Format(L"{}, {} MB kept", counts, inMegabytes(taken)),
              static_cast<double>(done + taken) / static_cast<double>(total)});
    return;
  }
  progress({counts, static_cast<double>(done) / static_cast<double>(total)});
}

std::wstring HostOf(const std::wstring& url) {
  const std::size_t scheme = url.find(L"://");
  if (scheme == std::wstring::npos) return WebsiteHost();
  const std::size_t start = scheme + 3;
  std::size_t end = url.find_first_of(L"/?#", start);
  if (end == std::wstring::npos) end = url.size();
  std::wstring host = url.substr(start, end - start);
  host = host.substr(host.find(L'@') == std::wstring::npos ? 0 : host.find(L'@') + 1);
  if (host.starts_with(L"[")) return host.substr(0, host.find(L']') + 1);  // an IPv6 address
  host = host.substr(0, host.find(L':'));
  return host.empty() ? WebsiteHost() : host;
}

Ready Prepare(const std::wstring& feedUrl, const ClientStore& store,
              const ProgressCallback& progress, bool launcherUpdateAllowed,
              const std::filesystem::path& temporaryDirectory, const FeedTrust& trust, bool repair,
              UpdateSummary* summary) {
  const std::wstring installed = store.Current();
  // Until more is known: the installed version starts as it is.
  UpdateSummary ignored;
  UpdateSummary& told = summary != nullptr ? *summary : ignored;
  told = {installed, installed, L"installed", 0, 0, {}};
  const Ready installedReady{store.Executable(installed), false, nullptr};
  const size_t lastSlash = feedUrl.rfind(L'/');
  const std::wstring baseUrl =
      lastSlash == std::wstring::npos ? L"" : feedUrl.substr(0, lastSlash + 1);
  LogLine(installed.empty() ? std::wstring(L"Installed: nothing") : L"Installed: " + installed);
  progress({L"Looking for updates\u2026", std::nullopt});

  const FetchedFeed fetched = FetchFeed(feedUrl, store, trust);
  const std::optional<Feed>& feed = fetched.feed;
  if (!feed) return WithoutFeed(fetched, feedUrl, installed, installedReady, progress);

  if (launcherUpdateAllowed && feed->launcher &&
      IsNewerVersion(feed->launcher->version, kOwnVersion)) {
    if (const std::optional<Release> launcher = TrustedLauncher(*feed, fetched, baseUrl)) {
      LogLine(Format(L"Launcher update from {} to {}", kOwnVersion, launcher->version));
      if (auto ready = DownloadLauncher(*launcher, baseUrl, progress, temporaryDirectory)) {
        told.version = launcher->version;
        told.how = L"launcher";
        told.fetched = launcher->size;
        return *ready;
      }
    }
  }

  const Feed offered = OfferedHere(*feed, store);
  const Release& release = offered.release;
  if (!IsUsableRelease(release) || !IsStorableVersion(release.version)) {
    LogLine(L"The feed names no release that can be installed: \"" + release.version + L"\"");
    if (installed.empty()) {
      throw Failure{L"The update server answered with nothing to install. Try again later."};
    }
    return installedReady;
  }
  if (!installed.empty() && Lowercase(installed) == Lowercase(release.version)) {
    LogLine(L"Up to date: " + installed);
    told.how = L"up to date";
    RepairInstalled(offered, baseUrl, store, installed, repair, progress);
    store.Prune();
    return installedReady;
  }
  if (!installed.empty() && IsNewerVersion(installed, release.version) && !offered.rollback) {
    LogLine(
        Format(L"The feed names {}, older than the installed {}, and says no rollback is "
               L"meant: starting {}",
               release.version, installed, installed));
    return installedReady;
  }

  return UpdateTo(offered, baseUrl, store, installed, progress, repair, summary);
}

}  // namespace launcher
