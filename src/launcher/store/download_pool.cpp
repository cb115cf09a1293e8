#include "launcher/store/download_pool.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

#include "launcher/store/move_into_place.h"
#include "launcher/text/failure.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/text.h"
#include "launcher/transfer/download.h"
#include "launcher/transfer/interruptions.h"

namespace launcher {

namespace {

struct Pool {
  Pool(const std::vector<std::size_t>& files, const std::vector<Listed>& list,
       const std::filesystem::path& folder, const Release& of, const std::wstring& url,
       const InstallProgress& report)
      : toFetch(files), listed(list), staging(folder), release(of), base(url), progress(report) {}

  const std::vector<std::size_t>& toFetch;
  const std::vector<Listed>& listed;
  const std::filesystem::path& staging;
  const Release& release;
  const std::wstring& base;
  const InstallProgress& progress;

  std::atomic<std::uint64_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex lock;  // downloaded, error and every report made by a worker
  std::uint64_t downloaded = 0;
  std::uint64_t downloadTotal = 0;
  std::exception_ptr error;

  void Fail(std::exception_ptr failure) {
    const std::lock_guard guard(lock);
    if (!error) error = failure;  // the first failure wins
    stop = true;
  }

  void FetchOne(const Listed& entry) {
    const std::filesystem::path destination = SafeJoin(staging, entry.path);
    // The file list's paths were checked when it was read; this only guards against misuse.
    if (destination.empty()) throw Failure{L"The release's file list isn't one"};
    const std::filesystem::path partPath = PathFromWide(WideFromPath(destination) + L".part");
    std::uint64_t last = 0;
    const std::wstring url = base + L"files/" + entry.sha256 + L".bin";
    Download(url, entry.size, entry.sha256, partPath, [&](std::uint64_t n) {
      if (stop) throw Stopped{};
      const std::lock_guard guard(lock);
      downloaded = downloaded + n - last;  // goes down when a download starts over
      last = n;
      progress(Stage::Downloading, downloaded, downloadTotal);
    });
    MoveIntoPlace(partPath, destination);
  }

  void Work() {
    try {
      for (;;) {
        const std::uint64_t k = next.fetch_add(1);
        if (k >= toFetch.size() || stop) return;
        FetchOne(listed[toFetch[k]]);
      }
    } catch (const Stopped&) {
      // Another worker failed first; its failure is the one reported.
    } catch (...) {
      Fail(std::current_exception());
    }
  }
};

}  // namespace

void RunDownloadPool(const std::vector<std::size_t>& toFetch, const std::vector<Listed>& listed,
                     const std::filesystem::path& staging, const Release& release,
                     const std::wstring& base, const InstallProgress& progress,
                     std::size_t maxWorkers) {
  Pool pool(toFetch, listed, staging, release, base, progress);
  for (const std::size_t k : toFetch) pool.downloadTotal += listed[k].size;
  progress(Stage::Downloading, 0, pool.downloadTotal);

  const std::size_t workers = std::min(std::max<std::size_t>(maxWorkers, 1), toFetch.size());
  std::vector<std::thread> threads;
  try {
    for (std::size_t i = 1; i < workers; ++i) threads.emplace_back([&pool] { pool.Work(); });
  } catch (...) {
    // The threads already running hold references to the pool: stop them and wait for them
    // before the failure to start one leaves.
    pool.Fail(std::current_exception());
    for (auto& thread : threads) thread.join();
    throw;
  }
  if (workers > 0) pool.Work();
  for (auto& thread : threads) thread.join();
  if (pool.error) std::rethrow_exception(pool.error);
}

}  // namespace launcher
