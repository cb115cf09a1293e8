// Measures installs against a real server. Prints wall times and rates.
//
//   store_bench archive BASE_URL FILE SHA256 SIZE STORE_ROOT       install a release by its archive
//   store_bench update BASE_URL FILE_LIST VERSION STORE_ROOT       install a release file by file
//   store_bench pool BASE_URL FILE_LIST WORKERS FOLDER             only the download pool
//   store_bench chunk FILE                                         SHA-256 alone, then with chunks

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <string>

#include "launcher/feed/file_list.h"
#include "launcher/store/chunk_file.h"
#include "launcher/store/client_store.h"
#include "launcher/store/download_pool.h"
#include "launcher/store/kept_files.h"
#include "launcher/text/failure.h"
#include "launcher/text/read_file.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/text.h"

namespace {

using Clock = std::chrono::steady_clock;
using launcher::Stage;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int Archive(char** argv) {
  const launcher::Release release{L"2.0.0", launcher::Widen(argv[3]), launcher::Widen(argv[4]),
                                  std::stoull(argv[5])};
  const launcher::ClientStore store(argv[6]);
  const auto start = Clock::now();
  store.Install(release, launcher::Widen(argv[2]), {}, [](Stage, std::uint64_t, std::uint64_t) {});
  std::printf("archive install: %.2f s for %.0f MiB\n", Since(start), release.size / 1048576.0);
  return 0;
}

int Update(char** argv) {
  const auto listed = launcher::ParseFileList(launcher::ReadWholeFile(argv[3]));
  // The archive is never fetched: its size only makes the file-by-file path the cheaper one.
  const launcher::Release release{launcher::Widen(argv[4]), L"unused.tar", std::wstring(64, L'0'),
                                  std::uint64_t{1} << 40};
  const launcher::ClientStore store(argv[5]);
  Clock::time_point keepingStart{}, downloadStart{};
  std::uint64_t kept = 0, fetched = 0;
  const auto start = Clock::now();
  store.Install(release, launcher::Widen(argv[2]), listed,
                [&](Stage stage, std::uint64_t done, std::uint64_t total) {
                  if (stage == Stage::Keeping) {
                    if (keepingStart == Clock::time_point{}) keepingStart = Clock::now();
                    kept = done;
                  } else {
                    if (downloadStart == Clock::time_point{}) downloadStart = Clock::now();
                    fetched = total;
                  }
                });
  const double seconds = Since(start);
  const double keeping = std::chrono::duration<double>(downloadStart - keepingStart).count();
  std::printf(
      "update: %.2f s for %zu files; %.1f MiB fetched; kept %.1f MiB copied and hashed "
      "in %.2f s: %.0f MB/s\n",
      seconds, listed.size(), fetched / 1048576.0, kept / 1048576.0, keeping,
      kept / 1048576.0 / keeping);
  return 0;
}

int Pool(char** argv) {
  const auto listed = launcher::ParseFileList(launcher::ReadWholeFile(argv[3]));
  const std::filesystem::path staging = argv[5];
  std::vector<std::size_t> toFetch(listed.size());
  std::iota(toFetch.begin(), toFetch.end(), 0);
  for (const auto& entry : listed) {
    std::filesystem::create_directories(
        launcher::SafeJoin(staging, launcher::Widen(entry.path)).parent_path());
  }
  const std::filesystem::path parts = staging.string() + ".parts";
  std::filesystem::create_directories(parts);
  const std::size_t workers = std::stoul(argv[4]);
  const auto start = Clock::now();
  launcher::RunDownloadPool(
      toFetch, listed, staging, parts, launcher::Widen(argv[2]),
      [](Stage, std::uint64_t, std::uint64_t) {}, {}, workers);
  const double seconds = Since(start);
  std::printf("pool, %zu worker(s): %zu files in %.2f s: %.0f files/s\n", workers, listed.size(),
              seconds, listed.size() / seconds);
  return 0;
}

int Chunk(char** argv) {
  auto start = Clock::now();
  launcher::HashFile(argv[2]);
  const double hashing = Since(start);
  start = Clock::now();
  const auto chunked = launcher::ChunkFile(argv[2], "file");
  if (!chunked) throw launcher::Failure{L"The file couldn't be read"};
  const double chunking = Since(start);
  start = Clock::now();
  launcher::ChunkFile(argv[2], "file", launcher::WholeDigest::Skip);
  const double cutting = Since(start);
  const double gibibytes = static_cast<double>(chunked->size) / (1 << 30);
  std::printf(
      "SHA-256 alone %.2f s, with the chunks cut (the publisher's) %.2f s, the chunks alone (the "
      "launcher's) %.2f s; %zu chunks, index %.1f KiB a GiB\n",
      hashing, chunking, cutting, chunked->chunks.size(),
      static_cast<double>(launcher::FormatChunkIndex({*chunked}).size()) / 1024 / gibibytes);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  try {
    if (mode == "archive" && argc == 7) return Archive(argv);
    if (mode == "update" && argc == 6) return Update(argv);
    if (mode == "pool" && argc == 6) return Pool(argv);
    if (mode == "chunk" && argc == 3) return Chunk(argv);
  } catch (const launcher::Failure& failure) {
    std::fprintf(stderr, "%s\n", launcher::Narrow(failure.message).c_str());
    return 1;
  }
  std::fprintf(stderr, "usage: see the comment at the top of store_bench.cpp\n");
  return 2;
}
