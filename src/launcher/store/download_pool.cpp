#include "launcher/store/download_pool.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "launcher/feed/server_layout.h"
#include "launcher/platform/move_into_place.h"
#include "launcher/store/kept_files.h"
#include "launcher/store/work_in_parallel.h"
#include "launcher/store/zstd_unpack.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/log.h"
#include "launcher/text/read_file.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/saturating.h"
#include "launcher/text/text.h"
#include "launcher/transfer/download.h"
#include "launcher/transfer/interruptions.h"

namespace launcher {

namespace {

// One content to fetch and the entries that list it.
struct Job {
  const Listed* first = nullptr;
  std::vector<const Listed*> entries;
  const FetchForms* forms = nullptr;  // of the first entry, when it has any
  std::uint64_t expected = 0;         // the bytes of the smallest form
};

std::vector<Job> JobsByContent(const std::vector<std::size_t>& toFetch,
                               const std::vector<Listed>& listed,
                               const std::vector<FetchForms>& forms) {
  std::vector<Job> jobs;
  std::map<Digest, std::size_t> byDigest;
  for (const std::size_t k : toFetch) {
    const auto [place, added] = byDigest.emplace(listed[k].sha256, jobs.size());
    if (added) {
      const FetchForms* smaller = k < forms.size() ? &forms[k] : nullptr;
      const std::uint64_t expected = smaller && smaller->patch    ? smaller->patch->stored.size
                                     : smaller && smaller->packed ? smaller->packed->size
                                                                  : listed[k].size;
      jobs.push_back({&listed[k], {}, smaller, expected});
    }
    jobs[place->second].entries.push_back(&listed[k]);
  }
  return jobs;
}

std::filesystem::path Destination(const std::filesystem::path& staging, const Listed& entry) {
  const std::filesystem::path destination = SafeJoin(staging, Widen(entry.path));
  // The file list's paths were checked when it was read; this only guards against misuse.
  if (destination.empty()) throw Failure{L"The release's file list isn't one"};
  return destination;
}

// Fetches `form` of `content` from `url` beside `part`, and decodes it into `part` (with the
// bytes of `reference` as the patch's base, when given). False, with nothing left but a line in
// the log, when it can't be had or doesn't make the content: the caller takes the next form.
bool FetchForm(const std::wstring& url, const StoredForm& form, const Listed& content,
               const std::filesystem::path& part, const std::filesystem::path* reference,
               const DownloadProgress& onBytes, const RetryWait& wait) {
  std::filesystem::path stored = part;
  stored += reference != nullptr ? L".patch" : L".zst";
  std::error_code ignored;
  try {
    DownloadWithRetries(url, form.size, form.sha256.Hex(), stored, onBytes, wait);
    const std::string base = reference != nullptr ? ReadWholeFile(*reference) : std::string();
    const std::optional<Digest> made = UnpackFile(stored, part, content.size, base);
    std::filesystem::remove(stored, ignored);
    if (made == content.sha256) return true;
    LogLine(Format(L"{} doesn't make {}: its blob is fetched instead", url, Widen(content.path)));
  } catch (const PastDeadline&) {
    throw;
  } catch (const Failure& failure) {
    LogLine(Format(L"{} couldn't be used: {}", url, Described(failure)));
  }
  std::filesystem::remove(stored, ignored);
  return false;
}

struct Pool {
  Pool(const std::vector<Job>& work, const std::filesystem::path& folder,
       const std::filesystem::path& downloads, const std::wstring& url,
       const InstallProgress& report, const std::vector<Listed>& all, std::vector<Came>* ways)
      : jobs(work),
        staging(folder),
        parts(downloads),
        base(url),
        progress(report),
        listed(all),
        came(ways) {}

  const std::vector<Job>& jobs;
  const std::filesystem::path& staging;
  const std::filesystem::path& parts;
  const std::wstring& base;
  const InstallProgress& progress;
  const std::vector<Listed>& listed;
  std::vector<Came>* came;  // each job sets its own entries' places only

  std::mutex lock;  // downloaded and every report made by a worker
  std::uint64_t downloaded = 0;
  std::uint64_t downloadTotal = 0;

  // The patch, then the packed blob, where the plan has them: the one that made the content.
  std::optional<Came> FetchSmaller(const FetchForms& forms, const Listed& content,
                                   const std::filesystem::path& part,
                                   const DownloadProgress& onBytes, const RetryWait& wait) const {
    if (forms.patch != nullptr &&
        FetchForm(base + layout::PatchName(content.sha256, forms.patch->base), forms.patch->stored,
                  content, part, &forms.reference, onBytes, wait)) {
      return Came::Patched;
    }
    if (forms.packed != nullptr &&
        FetchForm(base + layout::PackedBlobName(content.sha256), *forms.packed, content, part,
                  nullptr, onBytes, wait)) {
      return Came::Packed;
    }
    return std::nullopt;
  }

  void FetchOne(const Job& job, const std::atomic<bool>& stop) {
    const Listed& content = *job.first;
    // Named by digest in a folder of its own: no path a release holds can meet it.
    const std::wstring digest = content.sha256.Hex();
    const std::filesystem::path part = PartFileOf(parts, content.sha256);
    std::uint64_t last = 0;
    const auto onBytes = [&](std::uint64_t n) {
      if (stop) throw Stopped{};
      const std::lock_guard guard(lock);
      downloaded = downloaded + n - last;  // goes down when a download starts over
      last = n;
      progress(Stage::Downloading, downloaded, downloadTotal);
    };
    // A worker waiting to try a file again gives up as soon as another one has failed.
    const auto wait = [&stop](std::chrono::milliseconds pause) {
      const auto end = std::chrono::steady_clock::now() + pause;
      while (std::chrono::steady_clock::now() < end) {
        if (stop) throw Stopped{};
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    };
    std::optional<Came> way = job.forms != nullptr
                                  ? FetchSmaller(*job.forms, content, part, onBytes, wait)
                                  : std::nullopt;
    if (!way) {
      DownloadWithRetries(base + layout::BlobName(content.sha256), content.size, digest, part,
                          onBytes, wait);
      way = Came::Raw;
    }
    if (came != nullptr) {
      for (const Listed* entry : job.entries) (*came)[entry - listed.data()] = *way;
    }
    // The same content listed under several paths: copies for all but the last, which takes
    // the verified file itself.
    for (std::size_t i = 0; i + 1 < job.entries.size(); ++i) {
      if (CopyHashed(part, Destination(staging, *job.entries[i]), [](unsigned long long) {}) !=
          content.sha256) {
        throw Failure{L"A downloaded file couldn't be copied"};
      }
    }
    MoveIntoPlace(part, Destination(staging, *job.entries.back()));
  }
};

}  // namespace

std::filesystem::path PartFileOf(const std::filesystem::path& parts, const Digest& sha256) {
  const std::wstring digest = sha256.Hex();
  return parts / PathFromWide(digest.substr(0, 1)) / PathFromWide(digest + L".part");
}

void RunDownloadPool(const std::vector<std::size_t>& toFetch, const std::vector<Listed>& listed,
                     const std::filesystem::path& staging, const std::filesystem::path& parts,
                     const std::wstring& base, const InstallProgress& progress,
                     const std::vector<FetchForms>& forms, std::size_t maxWorkers,
                     std::vector<Came>* came) {
  const std::vector<Job> jobs = JobsByContent(toFetch, listed, forms);
  Pool pool(jobs, staging, parts, base, progress, listed, came);
  for (const Job& job : jobs) pool.downloadTotal = SaturatingAdd(pool.downloadTotal, job.expected);
  progress(Stage::Downloading, 0, pool.downloadTotal);
  std::set<std::filesystem::path> partFolders;
  for (const Job& job : jobs)
    partFolders.insert(PartFileOf(parts, job.first->sha256).parent_path());
  for (const auto& folder : partFolders) std::filesystem::create_directory(folder);
  // A worker stopped because another failed throws Stopped; only the first failure is reported.
  WorkInParallel(jobs.size(), maxWorkers, [&pool](std::size_t k, const std::atomic<bool>& stop) {
    pool.FetchOne(pool.jobs[k], stop);
  });
}

}  // namespace launcher
