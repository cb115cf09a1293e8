// ClientStore::Install: choosing the cheaper way to build a version, checking it and switching to
// it atomically.

#include <algorithm>
#include <system_error>
#include <tuple>

#include "launcher/feed/feed.h"
#include "launcher/store/archive_install.h"
#include "launcher/store/client_store.h"
#include "launcher/store/file_staging.h"
#include "launcher/store/locked_files.h"
#include "launcher/store/move_into_place.h"
#include "launcher/store/staged_tree.h"
#include "launcher/store/update_cost.h"
#include "launcher/store/version_record.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/log.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/saturating.h"
#include "launcher/text/text.h"
#include "launcher/transfer/write_failure.h"

namespace launcher {

namespace {

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
// size (an earlier attempt's work stays), but for vouched-for kept files, which are linked. (Where
// linking fails their copies say how much room they lack.)
std::uint64_t NotYetStaged(const std::filesystem::path& staging, const std::vector<Listed>& listed,
                           const std::vector<KeptFile>& kept) {
  std::uint64_t needed = 0;
  auto next = kept.begin();
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const Listed& entry = listed[i];
    while (next != kept.end() && next->index < i) ++next;
    if (next != kept.end() && next->index == i && next->trusted) continue;
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

// The files of the current version in `folder` that can give listed entries their bytes, in the
// list's order; no contents are read. By its record: every file whose size and digest an entry
// has, wherever it lies (renamed, moved, listed twice), vouched for when its stamp is the
// recorded one and `hashKept` is false. Without a record: the file at the entry's path with the
// entry's size, to be hashed.
std::vector<KeptFile> FindKept(const std::vector<Listed>& listed,
                               const std::filesystem::path& folder,
                               const std::filesystem::path& recordFile, bool hashKept) {
  std::vector<KeptFile> kept;
  const std::vector<RecordedFile> record = ReadRecord(recordFile);
  if (record.empty()) {
    for (std::size_t i = 0; i < listed.size(); ++i) {
      const std::filesystem::path source = SafeJoin(folder, Widen(listed[i].path));
      // One question of the file system per file: anything but a regular file has no size.
      std::error_code error;
      if (std::filesystem::file_size(source, error) == listed[i].size && !error) {
        kept.push_back({i, source, std::nullopt});
      }
    }
    return kept;
  }
  const auto content = [](const Listed& entry) { return std::tie(entry.sha256, entry.size); };
  std::vector<std::size_t> byContent(record.size());
  for (std::size_t r = 0; r < record.size(); ++r) byContent[r] = r;
  std::sort(byContent.begin(), byContent.end(), [&](std::size_t a, std::size_t b) {
    return content(record[a].listed) < content(record[b].listed);
  });
  for (std::size_t i = 0; i < listed.size(); ++i) {
    auto match = std::lower_bound(
        byContent.begin(), byContent.end(), i,
        [&](std::size_t r, std::size_t) { return content(record[r].listed) < content(listed[i]); });
    // Of several files with these bytes, the first whose stamp vouches for it; else any at the
    // right size.
    std::optional<KeptFile> best;
    for (; match != byContent.end() && content(record[*match].listed) == content(listed[i]);
         ++match) {
      const RecordedFile& recorded = record[*match];
      const std::filesystem::path source = SafeJoin(folder, Widen(recorded.listed.path));
      const std::optional<FileStamp> stamp = StampOf(source, true);
      if (!stamp || stamp->size != listed[i].size) continue;
      if (!hashKept && stamp->SameFile(recorded.stamp)) {
        best = KeptFile{i, source, recorded.stamp};
        break;
      }
      if (!best) best = KeptFile{i, source, std::nullopt};
    }
    if (best) kept.push_back(std::move(*best));
  }
  return kept;
}

}  // namespace

void ClientStore::Install(const Release& release, const std::wstring& base,
                          const std::vector<Listed>& listed, const InstallProgress& progress,
                          bool hashKept, const std::vector<ChunkedFile>& chunks) const {
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

  std::vector<KeptFile> kept;
  if (!current.empty()) {
    kept = FindKept(listed, root / PathFromWide(current), RecordOf(root, current), hashKept);
  }
  std::uint64_t keptTotal = 0;
  std::uint64_t fetchEstimate = 0;
  std::uint64_t listedTotal = 0;
  std::error_code noSize;
  bool anyByChunks = false;  // a changed large file that the current version helps build
  auto next = kept.begin();
  for (std::size_t i = 0; i < listed.size(); ++i) {
    listedTotal = SaturatingAdd(listedTotal, listed[i].size);
    if (next != kept.end() && next->index == i) {
      keptTotal = SaturatingAdd(keptTotal, listed[i].size);
      ++next;
    } else {
      const bool byChunks =
          !current.empty() && FindChunked(chunks, listed[i]) != nullptr &&
          std::filesystem::is_regular_file(
              SafeJoin(root / PathFromWide(current), Widen(listed[i].path)), noSize);
      anyByChunks = anyByChunks || byChunks;
      fetchEstimate = SaturatingAdd(fetchEstimate, UpdateCostOf(listed[i].size, byChunks));
    }
  }

  const bool byArchive = listed.empty() || (keptTotal == 0 && !anyByChunks) ||
                         ArchiveIsCheaper(fetchEstimate, release.size);
  LogLine(byArchive ? Format(L"By the archive: {} bytes", release.size)
                    : Format(L"File by file: {} bytes kept, about {} to fetch", keptTotal,
                             fetchEstimate));
  if (byArchive) {
    // The rest of the archive, then its files unpacked; the list says how much they take.
    RequireSpace(
        root, SaturatingAdd(release.size - std::min(release.size, SizeOf(download)), listedTotal));
    try {
      InstallFromArchive(release, base, download, staging, listed, progress);
    } catch (const Failure&) {
      RemoveFolder(staging);  // never reused: the next attempt unpacks afresh
      throw;
    }
  } else {
    RequireSpace(root, NotYetStaged(staging, listed, kept));
    StageFileByFile(
        listed, kept, keptTotal, staging, parts, base, progress,
        {&chunks, current.empty() ? std::filesystem::path() : root / PathFromWide(current)});
    // As late as can be: only the checks of the whole tree and the flush come after.
    RestageChangedLinks(listed, kept, staging, parts, base, progress);
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
  // The archive goes before the flush: its gigabyte would otherwise be written to the disk only
  // to be deleted. A kill from here to the switch costs the next attempt a download, and
  // nothing else.
  std::error_code ignored;
  std::filesystem::remove(download, ignored);
  FlushToDisk(staging);
  // An earlier, non-current folder of this version, and its record: never trusted for the new.
  const std::filesystem::path record = RecordOf(root, version);
  std::error_code noRecord;
  std::filesystem::remove(record, noRecord);
  RemoveFolder(target);
  MoveIntoPlace(staging, target);
  if (!listed.empty() && !WriteRecord(record, target, listed, kept)) {
    LogLine(L"The new version's record couldn't be written: its files will be hashed");
  }
  NameCurrent(version);
  RemoveFolder(parts);
}

}  // namespace launcher
