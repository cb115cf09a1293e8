#include "launcher/store/file_staging.h"

#include <gtest/gtest.h>

#include "launcher/store/links.h"
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

}  // namespace
}  // namespace launcher
