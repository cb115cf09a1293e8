// Files another program holds for a moment, as Windows has it: the store waits for them.

#include "launcher/platform/locked_files.h"

#include <gtest/gtest.h>

#include <thread>

#include "launcher/platform/handles_win32.h"
#include "launcher/platform/move_into_place.h"
#include "support/temporary_folder.h"

namespace launcher {
namespace {

using namespace std::chrono_literals;

// Opens the file as an antivirus might, sharing nothing, and lets it go after `hold`.
std::thread HoldFor(const std::filesystem::path& file, std::chrono::milliseconds hold) {
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE);
  return std::thread([handle, hold] {
    std::this_thread::sleep_for(hold);
    CloseHandle(handle);
  });
}

TEST(LockedFiles, RenamesAndDeletesWaitForAFileHeldAMoment) {
  const support::TemporaryFolder folder;
  folder.Write("old/data/held.pak", "held");
  folder.Write("new.part", "new bytes");
  folder.Write("target.pak", "old bytes");

  std::thread release = HoldFor(folder.path() / "old" / "data" / "held.pak", 400ms);
  auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(RemoveTree(folder.path() / "old", std::chrono::steady_clock::now() + 5s));
  EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "old"));
  release.join();

  release = HoldFor(folder.path() / "target.pak", 400ms);
  started = std::chrono::steady_clock::now();
  MoveIntoPlace(folder.path() / "new.part", folder.path() / "target.pak");
  EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
  EXPECT_EQ(support::ReadFile(folder.path() / "target.pak"), "new bytes");
  release.join();

  // Held past the deadline: the failure stands, and the file with it.
  folder.Write("kept.pak", "kept");
  release = HoldFor(folder.path() / "kept.pak", 1500ms);
  EXPECT_FALSE(RemoveTree(folder.path() / "kept.pak", std::chrono::steady_clock::now() + 300ms));
  EXPECT_TRUE(std::filesystem::exists(folder.path() / "kept.pak"));
  release.join();
}

}  // namespace
}  // namespace launcher
