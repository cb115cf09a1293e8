#include "launcher/shell/check_mode.h"

#include <gtest/gtest.h>

#include "launcher/text/text.h"
#include "launcher/text/website.h"
#include "support/scripted_server.h"
#include "support/temporary_folder.h"

namespace launcher {
namespace {

TEST(WriteCheckResult, ReplacesTheFileWithOneUtf8Line) {
  const support::TemporaryFolder folder;
  const std::wstring file = WideFromPath(folder.path() / "out.txt");
  WriteCheckResult(file, L"error\tThe download failed. A long message about \u00E9t\u00E9.");
  WriteCheckResult(file, L"ok\tC:\\G\u00E9\\Quellorn.exe");
  EXPECT_EQ(support::ReadFile(folder.path() / "out.txt"), "ok\tC:\\G\xC3\xA9\\Quellorn.exe");
  // A folder that doesn't exist: nothing is written and nothing is thrown.
  EXPECT_NO_THROW(WriteCheckResult(WideFromPath(folder.path() / "missing" / "out.txt"), L"ok\tx"));
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "missing"));
}

TEST(RunCheck, WritesTheOutcomeAndReturnsItsExitCode) {
  const support::TemporaryFolder folder;
  const ClientStore store(folder.path() / "Client");
  const std::wstring file = WideFromPath(folder.path() / "out.txt");
  std::wstring deadFeed;
  {
    support::ScriptedServer gone;
    deadFeed = gone.Url("/latest.json");
  }
  EXPECT_EQ(RunCheck(file, deadFeed, store, true, folder.path(), false), 1);
  EXPECT_EQ(support::ReadFile(folder.path() / "out.txt"),
            "error\tCouldn't reach 127.0.0.1. Check your connection and try again.");

  folder.Write("Client/1.0.0/Quellorn.exe", "game");
  folder.Write("Client/current.txt", "1.0.0");
  EXPECT_EQ(RunCheck(file, deadFeed, store, true, folder.path(), false), 0);
  EXPECT_EQ(support::ReadFile(folder.path() / "out.txt"),
            "ok\t" + Narrow(WideFromPath(store.Executable(L"1.0.0"))));
}

}  // namespace
}  // namespace launcher
