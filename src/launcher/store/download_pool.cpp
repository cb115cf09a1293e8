#include "launcher/store/download_pool.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "launcher/feed/server_layout.h"
#include "launcher/platform/move_into_place.h"
#include "launcher/store/kept_files.h"
#include "launcher/store/work_in_parallel.h"
#include "launcher/text/failure.h"
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
};

std::vector<Job> JobsByContent(const std::vector<std::size_t>& toFetch,
                               const std::vector<Listed>& listed) {
  std::vector<Job> jobs;
  std::map<Digest, std::size_t> byDigest;
  for (const std::size_t k : toFetch) {
    const auto [place, added] = byDigest.emplace(listed[k].sha256, jobs.size());
    if (added) jobs.push_back({&listed[k], {}});
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

struct Pool {
  Pool(const std::vector<Job>& work, const std::filesystem::path& folder,
       const std::filesystem::path& downloads, const std::wstring& url,
       const InstallProgress& report)
      : jobs(work), staging(folder), parts(downloads), base(url), progress(report) {}

  const std::vector<Job>& jobs;
  const std::filesystem::path& staging;
  const std::filesystem::path& parts;
  const std::wstring& base;
  const InstallProgress& progress;

  std::mutex lock;  // downloaded and every report made by a worker
  std::uint64_t downloaded = 0;
  std::uint64_t downloadTotal = 0;

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
    DownloadWithRetries(base + layout::BlobName(content.sha256), content.size, digest, part,
                        onBytes, wait);
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
                     std::size_t maxWorkers) {
  const std::vector<Job> jobs = JobsByContent(toFetch, listed);
  Pool pool(jobs, staging, parts, base, progress);
  for (const Job& job : jobs)
    pool.downloadTotal = SaturatingAdd(pool.downloadTotal, job.first->size);
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
