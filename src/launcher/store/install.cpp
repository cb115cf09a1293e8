// ClientStore::Install: choosing the cheaper way to build a version, checking it and switching to
// it atomically.

#include <algorithm>
#include <system_error>

#include "launcher/feed/feed.h"
#include "launcher/platform/disk_writes.h"
#include "launcher/platform/locked_files.h"
#include "launcher/platform/move_into_place.h"
#include "launcher/store/archive_install.h"
#include "launcher/store/client_store.h"
#include "launcher/store/file_staging.h"
#include "launcher/store/staged_tree.h"
#include "launcher/store/update_plan.h"
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

// What the current version in `folder` holds that a plan may take from, with the path of each
// file and the stamp that vouches for it; no contents are read. By its record: every recorded
// file still there, vouched for when its stamp is the recorded one and `hashKept` is false, and
// of unknown content when its size changed. Without a record: the file at each listed path, of
// unknown content.
struct Holdings {
  std::vector<InstalledFile> files;  // each file's `chunks` points into `chunks`
  std::vector<std::filesystem::path> paths;
  std::vector<FileStamp> stamps;           // the recorded ones
  std::vector<std::vector<Chunk>> chunks;  // recorded, of the files vouched for

  Holdings() = default;
  // Moved, the chunks stay where `files` points; a copy would leave it pointing at the original.
  Holdings(Holdings&&) = default;
  Holdings(const Holdings&) = delete;
  Holdings& operator=(const Holdings&) = delete;
};

Holdings LookAtInstalled(const std::vector<Listed>& listed, const std::filesystem::path& folder,
                         const std::filesystem::path& recordFile, bool hashKept) {
  Holdings held;
  const auto add = [&](InstalledFile file, std::filesystem::path path, const FileStamp& stamp) {
    held.files.push_back(std::move(file));
    held.paths.push_back(std::move(path));
    held.stamps.push_back(stamp);
    held.chunks.emplace_back();
  };
  std::vector<RecordedFile> record = ReadRecord(recordFile);
  if (record.empty()) {
    for (const Listed& entry : listed) {
      std::filesystem::path path = SafeJoin(folder, Widen(entry.path));
      // One question of the file system per file: anything but a regular file has no size.
      std::error_code error;
      const std::uint64_t size = std::filesystem::file_size(path, error);
      if (!error) add({entry.path, std::nullopt, size}, std::move(path), {});
    }
    return held;
  }
  for (RecordedFile& recorded : record) {
    std::filesystem::path path = SafeJoin(folder, Widen(recorded.listed.path));
    const std::optional<FileStamp> stamp = StampOf(path, true);
    if (!stamp) continue;
    const bool whole = stamp->size == recorded.listed.size;
    const bool vouched = whole && !hashKept && stamp->SameFile(recorded.stamp);
    add({recorded.listed.path, whole ? std::optional(recorded.listed.sha256) : std::nullopt,
         stamp->size, vouched},
        std::move(path), recorded.stamp);
    if (vouched) held.chunks.back() = std::move(recorded.chunks);
  }
  // Now that the chunks stay where they are: the plan knows what each vouched-for file holds.
  for (std::size_t i = 0; i < held.files.size(); ++i) {
    if (!held.chunks[i].empty()) held.files[i].chunks = &held.chunks[i];
  }
  return held;
}

// What the plan fetches, as the log tells it: the bytes of every form it takes, a large file's
// missing chunks where its record tells them; and how many large files are read to find theirs.
std::wstring PlannedFetch(const UpdatePlan& plan, const Holdings& held,
                          const std::vector<Listed>& listed, const std::vector<ChunkedFile>& chunks,
                          const std::vector<StoredContent>& stored) {
  std::size_t unknown = 0;
  const auto missing = [&](const ChunkedFile& wanted, const InstalledFile& file) {
    const std::optional<std::uint64_t> recorded = RecordedMissing(wanted, file, stored);
    if (!recorded) ++unknown;
    return recorded.value_or(0);
  };
  std::uint64_t total = 0;
  for (const std::optional<std::uint64_t>& bytes :
       PlannedDownloads(plan, held.files, listed, chunks, missing, stored)) {
    total = SaturatingAdd(total, bytes.value_or(0));
  }
  return unknown == 0 ? Format(L"{} to fetch", total)
                      : Format(L"{} to fetch, and what {} large files lack, found as they are read",
                               total, unknown);
}

// The file-by-file part of `plan`, with the installed files' paths and stamps, and the forms
// `stored` has of the files to fetch.
StagingPlan StagingOf(const UpdatePlan& plan, const Holdings& held, bool linkKept,
                      const std::vector<Listed>& listed, const std::vector<StoredContent>& stored) {
  StagingPlan staging{{}, {}, plan.keptBytes, linkKept, {}};
  if (!stored.empty()) staging.forms.resize(plan.files.size());
  for (std::size_t i = 0; i < plan.files.size(); ++i) {
    const PlannedFile& file = plan.files[i];
    if (!stored.empty()) {
      const StoredContent* forms = FindStored(stored, listed[i].sha256);
      if (forms != nullptr && forms->packed) {
        staging.forms[i].packed = &*forms->packed;
        if (!forms->frames.empty()) staging.forms[i].frames = &forms->frames;
      }
      if (file.way == FileWay::Patch) {
        staging.forms[i].patch = file.patch;
        staging.forms[i].reference = held.paths[file.source];
      }
    }
    if (file.way == FileWay::Copy || file.way == FileWay::Link) {
      const bool link = file.way == FileWay::Link;
      staging.kept.push_back({i, held.paths[file.source],
                              link ? std::optional(held.stamps[file.source]) : std::nullopt});
    } else if (file.way == FileWay::Chunks) {
      staging.byChunks.push_back({i, held.paths[file.source], held.chunks[file.source]});
    }
  }
  return staging;
}

}  // namespace

void ClientStore::Install(const Release& release, const std::wstring& base,
                          const std::vector<Listed>& listed, const InstallProgress& progress,
                          const std::vector<ChunkedFile>& chunks, const InstallOptions& options,
                          const ArchiveBlocks& blocks,
                          const std::vector<StoredContent>& stored) const {
  if (!IsUsableRelease(release) || !IsStorableVersion(release.version)) {
    throw Failure{L"The update server names a release that can't be kept"};
  }
  std::filesystem::create_directories(root);
  const std::wstring& version = release.version;
  RemoveLeftovers(version);
  const std::wstring current = Current();
  const Holdings held = current.empty()
                            ? Holdings{}
                            : LookAtInstalled(listed, root / PathFromWide(current),
                                              RecordOf(root, current), options.hashKept);
  const UpdatePlan plan = PlanUpdate(held.files, listed, chunks, release.size, stored);
  LogLine(plan.byArchive ? Format(L"By the archive: {} bytes", release.size)
                         : Format(L"File by file: {} bytes kept, {}", plan.keptBytes,
                                  PlannedFetch(plan, held, listed, chunks, stored)));
  StagingPlan staging = StagingOf(plan, held, options.linkKept, listed, stored);
  if (options.came != nullptr) {
    options.came->assign(listed.size(), plan.byArchive ? Came::Archive : Came::Raw);
    staging.came = options.came;
  }
  if (plan.byArchive) {
    StageByArchive(release, base, listed, blocks, progress);
  } else {
    StageByFiles(version, base, listed, staging, progress, chunks);
  }
  Switch(version, listed, staging.kept, !plan.byArchive, chunks);
}

void ClientStore::StageByArchive(const Release& release, const std::wstring& base,
                                 const std::vector<Listed>& listed, const ArchiveBlocks& blocks,
                                 const InstallProgress& progress) const {
  const std::filesystem::path download = root / PathFromWide(release.version + L".download");
  const std::filesystem::path staging = root / PathFromWide(release.version + L".partial");
  std::uint64_t unpacked = 0;
  for (const Listed& entry : listed) unpacked = SaturatingAdd(unpacked, entry.size);
  // The rest of the archive, then its files unpacked; the list says how much they take.
  RequireSpace(root,
               SaturatingAdd(release.size - std::min(release.size, SizeOf(download)), unpacked));
  const std::optional<BlockList> list = blocks ? blocks() : std::nullopt;
  InstallFromArchive(release, base, download, staging, listed, list ? &*list : nullptr, progress);
}

void ClientStore::StageByFiles(const std::wstring& version, const std::wstring& base,
                               const std::vector<Listed>& listed, StagingPlan& plan,
                               const InstallProgress& progress,
                               const std::vector<ChunkedFile>& chunks) const {
  const std::filesystem::path staging = root / PathFromWide(version + L".partial");
  const std::filesystem::path parts = root / PathFromWide(version + L".parts");
  RequireSpace(root, NotYetStaged(staging, listed, plan.kept));
  StageFileByFile(listed, plan, staging, parts, base, progress, chunks);
  // As late as can be: only the checks of the whole tree and the flush come after.
  RestageChangedLinks(listed, plan.kept, staging, parts, base, progress, plan.came);
}

void ClientStore::Switch(const std::wstring& version, const std::vector<Listed>& listed,
                         const std::vector<KeptFile>& kept, bool exact,
                         const std::vector<ChunkedFile>& chunks) const {
  const std::filesystem::path staging = root / PathFromWide(version + L".partial");
  if (!std::filesystem::exists(staging / "Quellorn.exe")) {
    RemoveFolder(staging);
    throw Failure{Format(L"The release holds no {}", L"Quellorn.exe")};
  }
  try {
    CheckStagedTree(staging, listed, exact);
  } catch (const Failure&) {
    RemoveFolder(staging);
    throw;
  }
  // The game is started from here, whatever the archive or the umask said of its mode.
  std::filesystem::permissions(staging / "Quellorn.exe", std::filesystem::perms::owner_all |
                                                             std::filesystem::perms::group_read |
                                                             std::filesystem::perms::group_exec |
                                                             std::filesystem::perms::others_read |
                                                             std::filesystem::perms::others_exec);
  // The archive goes before the flush: its gigabyte would otherwise be written to the disk only
  // to be deleted. A kill from here to the switch costs the next attempt a download, and
  // nothing else.
  std::error_code ignored;
  std::filesystem::remove(root / PathFromWide(version + L".download"), ignored);
  if (!FlushToDisk(staging)) throw Failure{L"The new version couldn't be written to the disk"};
  // An earlier, non-current folder of this version, and its record: never trusted for the new.
  const std::filesystem::path record = RecordOf(root, version);
  const std::filesystem::path target = root / PathFromWide(version);
  std::filesystem::remove(record, ignored);
  RemoveFolder(target);
  MoveIntoPlace(staging, target);
  if (!listed.empty() && !WriteRecord(record, target, listed, kept, chunks)) {
    LogLine(L"The new version's record couldn't be written: its files will be hashed");
  }
  NameCurrent(version);
  RemoveFolder(root / PathFromWide(version + L".parts"));
}

}  // namespace launcher
