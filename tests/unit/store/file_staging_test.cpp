#include "launcher/store/file_staging.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "launcher/platform/links.h"
#include "launcher/store/writeback_ahead.h"
#include "support/temporary_folder.h"

namespace launcher {
namespace {

TEST(SweepStrays, RemovesOnlyUnlistedFilesIgnoringLetterCase) {
  const support::TemporaryFolder folder;
  const auto staging = folder.path() / "1.1.0.partial";
  folder.Write("1.1.0.partial/Quellorn.exe", "game");
  folder.Write("1.1.0.partial/Data/Maps/One.PAK", "listed in other letter case");
  folder.Write("1.1.0.partial/data/old.pak", "dropped by this release");
  folder.Write("1.1.0.partial/data/new.pak.part", "a leftover download");
  std::filesystem::create_directories(staging / "empty");
  const std::vector<Listed> listed = {{"Quellorn.exe", Digest{}, 4},
                                      {"data/maps/one.pak", Digest{}, 27}};
  SweepStrays(listed, staging);
  EXPECT_TRUE(std::filesystem::exists(staging / "Quellorn.exe"));
  EXPECT_TRUE(std::filesystem::exists(staging / "Data" / "Maps" / "One.PAK"));
  EXPECT_FALSE(std::filesystem::exists(staging / "data" / "old.pak"));
  EXPECT_FALSE(std::filesystem::exists(staging / "data" / "new.pak.part"));
  EXPECT_TRUE(std::filesystem::is_directory(staging / "empty"));  // folders are never strays
}

TEST(HoldsLinks, FindsALinkAnywhereBelowTheFolder) {
  const support::TemporaryFolder folder;
  folder.Write("tree/a/b/file.txt", "x");
  EXPECT_FALSE(HoldsLinks(folder.path() / "tree"));
  std::error_code error;
  std::filesystem::create_symlink(folder.path() / "elsewhere",
                                  folder.path() / "tree" / "a" / "b" / "link", error);
  if (error) GTEST_SKIP() << "this system makes no symbolic links here: " << error.message();
  EXPECT_TRUE(IsLink(folder.path() / "tree" / "a" / "b" / "link"));
  EXPECT_TRUE(HoldsLinks(folder.path() / "tree"));
  EXPECT_TRUE(HoldsLinks(folder.path() / "missing"));  // a tree that can't be walked isn't trusted
}

TEST(WritebackAhead, StartsEachFileOnceTarIsPastItAndNoSooner) {
  constexpr std::uint64_t kMiB = 1 << 20;
  constexpr std::uint64_t kLag = WritebackAhead::kTarLag;
  // In the archive, a header and whole blocks each: a ends at 1 MiB + 512, b at 3 MiB + 1024,
  // c (a name no folder may hold: skipped) at 3 MiB + 2048, d at 9 MiB + 2560.
  const std::vector<Listed> listed = {{"a", Digest{}, kMiB},
                                      {"b", Digest{}, 2 * kMiB},
                                      {"../c", Digest{}, 100},
                                      {"d", Digest{}, 6 * kMiB}};
  const std::uint64_t tar = 9 * kMiB + 2560;
  struct Row {
    const char* name;
    std::uint64_t archiveSize;
    std::uint64_t fed;
    std::vector<std::string> started;
  };
  const Row rows[] = {
      {"a within tar's lag", tar, kLag + kMiB + 511, {}},
      {"tar past a", tar, kLag + kMiB + 512, {"a"}},
      {"past c, which has no place", tar, kLag + 3 * kMiB + 2048, {"a", "b"}},
      {"gzip'd to half the size", tar / 2, (kLag + kMiB + 512) / 2, {"a"}},
      {"the whole archive: d ends within the lag", tar, tar, {"a", "b"}},
  };
  const support::TemporaryFolder folder;
  for (const Row& row : rows) {
    std::mutex lock;
    std::vector<std::string> started;
    {
      WritebackAhead ahead(folder.path(), listed, row.archiveSize,
                           [&](const std::filesystem::path& file) {
                             const std::lock_guard guard(lock);
                             started.push_back(file.filename().string());
                           });
      ahead.Reached(row.fed);
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      const auto count = [&] {
        const std::lock_guard guard(lock);
        return started.size();
      };
      while (count() < row.started.size() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::this_thread::sleep_for(std::chrono::milliseconds(60));  // a few more looks
    }
    EXPECT_EQ(started, row.started) << row.name;
  }
}

}  // namespace
}  // namespace launcher
