// Measures the transfer code against a real server: one large verified download, or many small
// ones on several threads. Prints rates and the process's peak resident memory.
//
//   transfer_bench download URL SHA256 SIZE FILE
//   transfer_bench many BASE_URL COUNT THREADS FOLDER   (files BASE_URL/N.bin with digests in
//                                                       BASE_URL/digests.txt, one per line)

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "launcher/text/failure.h"
#include "launcher/text/text.h"
#include "launcher/transfer/download.h"
#include "launcher/transfer/text_fetch.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

long PeakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int DownloadOne(char** argv) {
  const std::uint64_t size = std::stoull(argv[4]);
  const auto started = Clock::now();
  launcher::Download(launcher::Widen(argv[2]), size, launcher::Widen(argv[3]), argv[5],
                     [](std::uint64_t) {});
  const double seconds = Seconds(started);
  std::printf("download: %.1f MB/s (%llu bytes in %.2f s), peak resident memory %.1f MiB\n",
              static_cast<double>(size) / 1048576.0 / seconds,
              static_cast<unsigned long long>(size), seconds, PeakResidentKiB() / 1024.0);
  return 0;
}

int DownloadMany(char** argv) {
  const std::string base = argv[2];
  const int count = std::stoi(argv[3]);
  const int threads = std::stoi(argv[4]);
  const std::filesystem::path folder = argv[5];
  std::istringstream digests(launcher::GetText(launcher::Widen(base + "/digests.txt"), 1 << 24));
  std::vector<std::wstring> sha256;
  for (std::string line; std::getline(digests, line);) sha256.push_back(launcher::Widen(line));
  if (static_cast<int>(sha256.size()) < count) return 2;

  std::atomic<int> next{0};
  std::atomic<int> failures{0};
  const auto started = Clock::now();
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      for (int i = next++; i < count; i = next++) {
        const std::string name = std::to_string(i) + ".bin";
        try {
          launcher::Download(launcher::Widen(base + "/" + name), 65536, sha256[i], folder / name,
                             [](std::uint64_t) {});
        } catch (const launcher::Failure&) {
          ++failures;
        }
      }
    });
  }
  for (auto& worker : workers) worker.join();
  const double seconds = Seconds(started);
  std::printf("many: %d files of 64 KiB on %d threads in %.2f s: %.0f files/s, %d failed\n", count,
              threads, seconds, count / seconds, failures.load());
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  try {
    if (mode == "download" && argc == 6) return DownloadOne(argv);
    if (mode == "many" && argc == 6) return DownloadMany(argv);
  } catch (const launcher::Failure& failure) {
    std::fprintf(stderr, "%s\n", launcher::Narrow(failure.message).c_str());
    return 1;
  }
  std::fprintf(stderr, "usage: see the comment at the top of transfer_bench.cpp\n");
  return 2;
}
