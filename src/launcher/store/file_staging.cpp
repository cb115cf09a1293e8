#include "launcher/store/file_staging.h"

#include <algorithm>
#include <mutex>
#include <system_error>

#include "launcher/feed/server_layout.h"
#include "launcher/platform/folders.h"
#include "launcher/store/chunked_fetch.h"
#include "launcher/store/download_pool.h"
#include "launcher/store/kept_files.h"
#include "launcher/store/work_in_parallel.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/text.h"
#include "launcher/transfer/sha256.h"

namespace launcher {

namespace {

// Kept files copied at once: enough to keep both the disk and the cores of a small machine busy.
constexpr std::size_t kCopiers = 4;

void Note(const StagingPlan& plan, std::size_t index, Came came) {
  if (plan.came != nullptr) (*plan.came)[index] = came;
}

// Puts the vouched-for source at `destination` as a hard link; an earlier attempt's link stays.
bool Link(const KeptFile& kept, const std::filesystem::path& destination, bool linkKept) {
  const std::optional<FileStamp> staged = StampOf(destination, true);
  if (staged && staged->SameFile(*kept.trusted)) return true;
  if (!linkKept) return false;
  std::error_code error;
  std::filesystem::remove(destination, error);
  std::filesystem::create_hard_link(kept.source, destination, error);
  if (error) return false;
  // The source may have changed between its stamp and the link: the link is trusted only as
  // the file that was vouched for.
  const std::optional<FileStamp> linked = StampOf(destination, true);
  return linked && linked->SameFile(*kept.trusted);
}

// Copies the source to `destination` while hashing it; false (and nothing left there) when its
// bytes aren't the entry's. A small one is hashed before it is written: without a record, every
// installed file of the listed size is a candidate, and most of them may have changed.
bool CopyKept(const Listed& entry, const KeptFile& kept, const std::filesystem::path& destination,
              const std::function<void(unsigned long long)>& onCopied) {
  std::error_code ignored;
  std::filesystem::remove(destination, ignored);  // a link must not be written through
  if (entry.size <= kHashBufferSize) {
    return CopySmallIfHolds(kept.source, destination, entry.size, entry.sha256, onCopied);
  }
  if (CopyHashed(kept.source, destination, onCopied) == entry.sha256) return true;
  std::filesystem::remove(destination, ignored);
  return false;
}

// Builds what it can of `toFetch` from the chunks the installed files of `byChunks` hold, and
// takes those off the list; the rest stays for the pool.
void StageByChunks(std::vector<std::size_t>& toFetch, const std::vector<Listed>& listed,
                   const std::filesystem::path& staging, const std::filesystem::path& parts,
                   const std::wstring& base, const InstallProgress& progress,
                   const StagingPlan& plan, const std::vector<ChunkedFile>& chunks) {
  struct Candidate {
    std::size_t index;
    const ChunkedFile* wanted;
    const StagingPlan::FromChunks* from;
  };
  std::vector<Candidate> candidates;
  std::uint64_t total = 0;
  auto next = plan.byChunks.begin();
  for (const std::size_t i : toFetch) {  // in the list's order, as byChunks
    while (next != plan.byChunks.end() && next->index < i) ++next;
    if (next == plan.byChunks.end() || next->index != i) continue;
    const ChunkedFile* wanted = FindChunked(chunks, listed[i]);
    if (wanted == nullptr) continue;
    candidates.push_back({i, wanted, &*next});
    total += listed[i].size;
  }
  ChunkTally tally;
  const auto report = [&](const ChunkTally& now) {
    progress(Stage::Taking, now.taken, total);
    progress(Stage::Patching, now.fetched, total);
  };
  std::vector<std::size_t> built;
  for (const auto& [i, wanted, from] : candidates) {
    report(tally);
    const ChunkTally before = tally;
    const std::vector<std::uint64_t>* frames =
        i < plan.forms.size() ? plan.forms[i].frames : nullptr;
    const ChunkBlob blob{base + (frames != nullptr ? layout::PackedBlobName(wanted->sha256)
                                                   : layout::BlobName(wanted->sha256)),
                         frames};
    if (FetchByChunks(*wanted, {from->installed, from->recorded}, blob,
                      parts / PathFromWide(wanted->sha256.Hex() + L".chunked"),
                      SafeJoin(staging, Widen(wanted->path)), tally, [&](const ChunkTally& file) {
                        report({before.taken + file.taken, before.fetched + file.fetched});
                      })) {
      built.push_back(i);
      Note(plan, i, Came::Chunks);
    }
  }
  std::erase_if(toFetch, [&](std::size_t i) {
    return std::find(built.begin(), built.end(), i) != built.end();
  });
}

// What the keeping has still to do once the links are made: the kept files to copy, and the
// entries to fetch.
struct KeptWork {
  struct Copy {
    std::size_t index;
    const KeptFile* source;
    std::filesystem::path destination;
  };
  std::vector<Copy> toCopy;
  std::vector<std::size_t> toFetch;
  std::uint64_t keptDone = 0;
};

// Makes each entry's folder, links the vouched-for kept files and leaves what an earlier attempt
// staged already; sorts the rest into copies and fetches.
KeptWork LinkWhatCan(const std::vector<Listed>& listed, StagingPlan& plan,
                     const std::filesystem::path& staging, const InstallProgress& progress) {
  KeptWork work;
  auto next = plan.kept.begin();
  std::filesystem::path folder;  // the last one made: a list names a folder's files in a row
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const Listed& entry = listed[i];
    const std::filesystem::path destination = SafeJoin(staging, Widen(entry.path));
    if (destination.parent_path() != folder) {
      folder = destination.parent_path();
      std::filesystem::create_directories(folder);
    }
    KeptFile* source = next != plan.kept.end() && next->index == i ? &*next++ : nullptr;
    if (source && source->trusted && Link(*source, destination, plan.linkKept)) {
      source->linked = true;
      work.keptDone += entry.size;
      progress(Stage::Keeping, work.keptDone, plan.keptTotal);
      Note(plan, i, Came::Linked);
      continue;
    }
    if (HoldsExactly(destination, entry.size, entry.sha256)) {
      if (source) work.keptDone += entry.size;
      progress(Stage::Keeping, work.keptDone, plan.keptTotal);
      Note(plan, i, Came::Earlier);
      continue;
    }
    if (source) {
      work.toCopy.push_back({i, source, destination});
    } else {
      work.toFetch.push_back(i);  // a wrong file there is replaced by the download's final move
    }
  }
  return work;
}

// Without a record every installed file of the listed size is a candidate, read and hashed
// whole: on one thread that would leave the other cores idle for most of the keeping. A copy
// that isn't the entry's bytes joins the fetches.
void CopyInParallel(const std::vector<Listed>& listed, KeptWork& work, const StagingPlan& plan,
                    const InstallProgress& progress) {
  const std::uint64_t keptTotal = plan.keptTotal;
  std::mutex lock;  // keptDone, toFetch and the reports
  WorkInParallel(work.toCopy.size(), kCopiers, [&](std::size_t k, const std::atomic<bool>&) {
    const KeptWork::Copy& copy = work.toCopy[k];
    const Listed& entry = listed[copy.index];
    std::uint64_t copied = 0;
    const bool held =
        CopyKept(entry, *copy.source, copy.destination, [&](unsigned long long count) {
          copied += count;
          const std::lock_guard guard(lock);
          work.keptDone += count;
          progress(Stage::Keeping, work.keptDone, keptTotal);
        });
    if (!held) {
      // The installed copy differs though its size matched: fetch it, but count it as kept
      // so that the Keeping numbers still add up to keptTotal.
      const std::lock_guard guard(lock);
      work.keptDone += entry.size - copied;
      work.toFetch.push_back(copy.index);
      progress(Stage::Keeping, work.keptDone, keptTotal);
    } else {
      Note(plan, copy.index, Came::Copied);
    }
  });
}

}  // namespace

void StageFileByFile(const std::vector<Listed>& listed, StagingPlan& plan,
                     const std::filesystem::path& staging, const std::filesystem::path& parts,
                     const std::wstring& base, const InstallProgress& progress,
                     const std::vector<ChunkedFile>& chunks) {
  MakeOwnFolder(staging);
  MakeOwnFolder(parts);
  KeptWork work = LinkWhatCan(listed, plan, staging, progress);
  CopyInParallel(listed, work, plan, progress);
  std::sort(work.toFetch.begin(), work.toFetch.end());  // in the list's order, as kept in turn
  StageByChunks(work.toFetch, listed, staging, parts, base, progress, plan, chunks);
  RunDownloadPool(work.toFetch, listed, staging, parts, base, progress, plan.forms,
                  kMaxDownloadWorkers, plan.came);
  SweepStrays(listed, staging);
}

void RestageChangedLinks(const std::vector<Listed>& listed, std::vector<KeptFile>& kept,
                         const std::filesystem::path& staging, const std::filesystem::path& parts,
                         const std::wstring& base, const InstallProgress& progress,
                         std::vector<Came>* came) {
  std::vector<std::size_t> toFetch;
  for (KeptFile& file : kept) {
    if (!file.linked) continue;
    const Listed& entry = listed[file.index];
    const std::filesystem::path destination = SafeJoin(staging, Widen(entry.path));
    const std::optional<FileStamp> now = StampOf(destination, true);
    if (now && now->SameFile(*file.trusted)) continue;
    file.linked = false;
    if (CopyKept(entry, file, destination, [](unsigned long long) {})) {
      if (came != nullptr) (*came)[file.index] = Came::Copied;
    } else {
      toFetch.push_back(file.index);
    }
  }
  if (!toFetch.empty()) {
    RunDownloadPool(toFetch, listed, staging, parts, base, progress, {}, kMaxDownloadWorkers, came);
  }
}

void SweepStrays(const std::vector<Listed>& listed, const std::filesystem::path& staging) {
  std::vector<std::wstring> expected;
  expected.reserve(listed.size());
  for (const Listed& entry : listed) {
    expected.push_back(Lowercase(WideFromPath(SafeJoin(staging, Widen(entry.path)))));
  }
  std::sort(expected.begin(), expected.end());

  std::vector<std::filesystem::path> strays;
  std::error_code error;
  std::filesystem::recursive_directory_iterator entry(staging, error);
  if (error) return;
  for (; entry != std::filesystem::recursive_directory_iterator(); ++entry) {
    std::error_code ignored;
    if (!entry->is_regular_file(ignored)) continue;  // the folder's own listing says, mostly
    if (!std::binary_search(expected.begin(), expected.end(),
                            Lowercase(WideFromPath(entry->path())))) {
      strays.push_back(entry->path());
    }
  }
  for (const auto& stray : strays) {
    std::error_code ignored;
    std::filesystem::remove(stray, ignored);
  }
}

}  // namespace launcher
