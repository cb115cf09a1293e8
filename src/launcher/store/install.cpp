// ClientStore::Install: choosing the cheaper way to build a version, checking it and switching to
// it atomically.

#include <system_error>

#include "launcher/feed/feed.h"
#include "launcher/store/archive_install.h"
#include "launcher/store/client_store.h"
#include "launcher/store/file_staging.h"
#include "launcher/store/locked_files.h"
#include "launcher/store/move_into_place.h"
#include "launcher/store/staged_tree.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/log.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/saturating.h"
#include "launcher/text/text.h"
#include "launcher/transfer/write_failure.h"

namespace launcher {

namespace {

// Each file fetched singly costs about this much beyond its bytes.
constexpr std::uint64_t kPerFileOverhead = 65536;

std::uint64_t SizeOf(const std::filesystem::path& file) {
  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(file, error);
  return error ? 0 : size;
}

// Fails at once when the store's disk can't take what the install will write.
void RequireSpace(const std::filesystem::path& root, std::uint64_t needed) {
  std::error_code error;
  const std::filesystem::space_info space = std::filesystem::space(root, error);
  if (!error && space.available < needed) throw NotEnoughSpace(needed - space.available);
}

// What staging file by file still has to write: every listed file not already in place with its
// size (an earlier attempt's work stays).
std::uint64_t NotYetStaged(const std::filesystem::path& staging,
                           const std::vector<Listed>& listed) {
  std::uint64_t needed = 0;
  for (const Listed& entry : listed) {
    const std::filesystem::path placed = SafeJoin(staging, Widen(entry.path));
    std::error_code error;
    if (!std::filesystem::is_regular_file(placed, error) ||
        std::filesystem::file_size(placed, error) != entry.size || error) {
      needed = SaturatingAdd(needed, entry.size);
    }
  }
  return needed;
}

void RemoveFolder(const std::filesystem::path& folder) {
  RemoveTree(folder, std::chrono::steady_clock::now() + kLockedFilesWait);
}

}  // namespace

void ClientStore::Install(const Release& release, const std::wstring& base,
                          const std::vector<Listed>& listed,
                          const InstallProgress& progress) const {
  if (!IsUsableRelease(release) || !IsStorableVersion(release.version)) {
    throw Failure{L"The update server names a release that can't be kept"};
  }
  std::filesystem::create_directories(root);
  const std::wstring& version = release.version;
  RemoveLeftovers(version);
  const std::filesystem::path download = root / PathFromWide(version + L".download");
  const std::filesystem::path staging = root / PathFromWide(version + L".partial");
  const std::filesystem::path parts = root / PathFromWide(version + L".parts");
  const std::filesystem::path target = root / PathFromWide(version);
  const std::wstring current = Current();

  // What the current version could give: a file of the listed size. No contents are read yet.
  std::vector<std::filesystem::path> sources(listed.size());
  std::uint64_t keptTotal = 0;
  std::uint64_t fetchEstimate = 0;
  std::uint64_t listedTotal = 0;
  for (std::size_t i = 0; i < listed.size(); ++i) {
    listedTotal = SaturatingAdd(listedTotal, listed[i].size);
    if (current.empty()) continue;
    const std::filesystem::path candidate =
        SafeJoin(root / PathFromWide(current), Widen(listed[i].path));
    // One question of the file system per file: anything but a regular file has no size.
    std::error_code error;
    const std::uint64_t size = std::filesystem::file_size(candidate, error);
    if (!error && size == listed[i].size) {
      sources[i] = candidate;
      keptTotal = SaturatingAdd(keptTotal, listed[i].size);
    } else {
      fetchEstimate = SaturatingAdd(fetchEstimate, SaturatingAdd(listed[i].size, kPerFileOverhead));
    }
  }

  // Files one by one only when they are estimated at under 60 % of the archive: estimate * 10 >=
  // size * 6, that is estimate / 3 >= size / 5, compared by quotients and then remainders so that
  // no product can overflow.
  const std::uint64_t estimateThirds = fetchEstimate / 3;
  const std::uint64_t sizeFifths = release.size / 5;
  const bool archiveCheaper =
      estimateThirds > sizeFifths ||
      (estimateThirds == sizeFifths && (fetchEstimate % 3) * 5 >= (release.size % 5) * 3);
  const bool byArchive = listed.empty() || keptTotal == 0 || archiveCheaper;
  LogLine(byArchive ? Format(L"By the archive: {} bytes", release.size)
                    : Format(L"File by file: {} bytes kept, about {} to fetch", keptTotal,
                             fetchEstimate));
  if (byArchive) {
    // The rest of the archive, then its files unpacked; the list says how much they take.
    RequireSpace(
        root, SaturatingAdd(release.size - std::min(release.size, SizeOf(download)), listedTotal));
    try {
      InstallFromArchive(release, base, download, staging, progress);
    } catch (const Failure&) {
      RemoveFolder(staging);  // never reused: the next attempt unpacks afresh
      throw;
    }
  } else {
    RequireSpace(root, NotYetStaged(staging, listed));
    StageFileByFile(listed, sources, keptTotal, staging, parts, base, progress);
  }

  if (!std::filesystem::exists(staging / "Quellorn.exe")) {
    RemoveFolder(staging);
    throw Failure{Format(L"The release holds no {}", L"Quellorn.exe")};
  }
  try {
    CheckStagedTree(staging, listed, !byArchive);
  } catch (const Failure&) {
    RemoveFolder(staging);
    throw;
  }
  FlushToDisk(staging);
  RemoveFolder(target);  // an earlier, non-current folder of this version
  MoveIntoPlace(staging, target);
  NameCurrent(version);
  // Only once the version is current: a kill before this point finds the archive still whole.
  std::error_code ignored;
  std::filesystem::remove(download, ignored);
  RemoveFolder(parts);
}

}  // namespace launcher
