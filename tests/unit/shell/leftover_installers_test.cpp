#include "launcher/shell/leftover_installers.h"

#include <gtest/gtest.h>

#include "support/temporary_folder.h"

namespace launcher {
namespace {

TEST(RemoveLeftoverInstallers, RemovesOnlyWhatBeginsWithTheExactPrefix) {
  const support::TemporaryFolder folder;
  const auto& directory = folder.path();
  for (const char* name :
       {"Quellorn-Launcher-2.3.0.exe", "Quellorn-Launcher-", "quellorn-launcher-x.exe",
        "Quellorn-Launcher", "My-Quellorn-Launcher-2.exe", "Quellorn-Launcher-full/inner"}) {
    folder.Write(name, "installer");
  }
  std::filesystem::create_directory(directory / "Quellorn-Launcher-empty");

  RemoveLeftoverInstallers(directory);

  EXPECT_FALSE(std::filesystem::exists(directory / "Quellorn-Launcher-2.3.0.exe"));
  EXPECT_FALSE(std::filesystem::exists(directory / "Quellorn-Launcher-"));
  EXPECT_FALSE(std::filesystem::exists(directory / "Quellorn-Launcher-empty"));
  EXPECT_TRUE(std::filesystem::exists(directory / "quellorn-launcher-x.exe"));
  EXPECT_TRUE(std::filesystem::exists(directory / "Quellorn-Launcher"));
  EXPECT_TRUE(std::filesystem::exists(directory / "My-Quellorn-Launcher-2.exe"));
  // An installer's private folder goes with the installer in it.
  EXPECT_FALSE(std::filesystem::exists(directory / "Quellorn-Launcher-full"));
}

TEST(RemoveLeftoverInstallers, AFolderThatCannotBeListedIsLeftAlone) {
  const support::TemporaryFolder folder;
  EXPECT_NO_THROW(RemoveLeftoverInstallers(folder.path() / "missing"));
  const auto file = folder.Write("Quellorn-Launcher-file", "not a folder");
  EXPECT_NO_THROW(RemoveLeftoverInstallers(file));
  EXPECT_TRUE(std::filesystem::exists(file));
}

}  // namespace
}  // namespace launcher
