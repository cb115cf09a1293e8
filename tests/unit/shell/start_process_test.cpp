#include "launcher/shell/start_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/platform/run_program.h"
#include "launcher/shell/command_line.h"
#include "launcher/shell/executable_directory.h"
#include "launcher/text/text.h"
#include "support/temporary_folder.h"
#include "support/wait_for_file.h"

namespace launcher {
namespace {

using support::WaitForFile;

TEST(StartProcess, QuotesThePathPassesTheArgumentsAndRunsInTheProgramsFolder) {
  const support::TemporaryFolder folder;
  for (const char* place : {"plain", "with space"}) {
    SCOPED_TRACE(place);
    const auto programFolder = folder.path() / place;
    // The program writes into its working folder: finding the file there shows where it ran.
    const auto record = programFolder / "record.txt";
    std::filesystem::create_directories(programFolder);
    const auto program = programFolder / LAUNCHER_RECORD_FILE_NAME;
    std::filesystem::copy_file(ExecutableDirectory() / LAUNCHER_RECORD_FILE_NAME, program);
    // As a file downloaded on its own arrives on Linux: without an execute bit.
    std::filesystem::permissions(program,
                                 std::filesystem::perms::owner_exec |
                                     std::filesystem::perms::group_exec |
                                     std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::remove);
    const std::wstring arguments = L" -windowed " + QuoteArgument(L"save 2") + L" " +
                                   QuoteArgument(L"say \"hi\"") + L" " +
                                   QuoteArgument(L"C:\\my dir\\");
    ASSERT_TRUE(StartProcess(WideFromPath(program), arguments));
    EXPECT_EQ(WaitForFile(record), "-windowed\nsave 2\nsay \"hi\"\nC:\\my dir\\\ncwd=" +
                                       std::filesystem::canonical(programFolder).string() + "\n");
  }
}

TEST(StartProcess, AMissingProgramIsNotStarted) {
  const support::TemporaryFolder folder;
  EXPECT_FALSE(StartProcess(WideFromPath(folder.path() / "missing" / "Quellorn.exe"), L""));
  EXPECT_FALSE(StartProcess(WideFromPath(folder.path() / "Quellorn.exe"), L" -windowed"));
}

TEST(RunToEnd, EveryWordArrivesWholeAndWaitsForTheEnd) {
  const support::TemporaryFolder folder;
  const auto program = folder.path() / "tools dir" / LAUNCHER_RECORD_FILE_NAME;
  std::filesystem::create_directories(program.parent_path());
  std::filesystem::copy_file(ExecutableDirectory() / LAUNCHER_RECORD_FILE_NAME, program);
  // The recording program writes into the working folder, which RunToEnd leaves as it is.
  const auto record = std::filesystem::current_path() / "record.txt";
  std::filesystem::remove(record);
  // A folder as shell completion gives it, with its separator at the end: on Windows the
  // backslash must not swallow the quote that ends the word.
  const ProgramWord folderWord =
      (folder.path() / "build dir").native() + std::filesystem::path::preferred_separator;
  const ProgramWord quoted = PathFromWide(L"say \"hi\"").native();
  EXPECT_EQ(RunToEnd(program, {PathFromWide(L"-C").native(), folderWord, quoted,
                               PathFromWide(L"-f").native()}),
            0);
  // Waited for: the record is whole when RunToEnd returns.
  const std::string recorded = support::ReadFile(record);
  std::filesystem::remove(record);
  EXPECT_EQ(recorded, "-C\n" + std::filesystem::path(folderWord).string() +
                          "\nsay \"hi\"\n-f\ncwd=" + std::filesystem::current_path().string() +
                          "\n");
  EXPECT_EQ(RunToEnd(folder.path() / "missing", {}), std::nullopt);
}

// More than any pipe holds, so both sides must wait for each other.
TEST(PipedPrograms, WhatGoesInComesOutWhole) {
  const support::TemporaryFolder folder;
  const auto program = ExecutableDirectory() / LAUNCHER_RECORD_FILE_NAME;
  const auto word = [](const wchar_t* text) { return PathFromWide(text).native(); };
  std::string repeated;
  for (int i = 0; i < 300000; ++i) repeated += "0123456789";

  FedProgram echo(program, {word(L"--echo")}, folder.path() / "echoed");
  for (std::size_t at = 0; at < repeated.size(); at += 65537) {
    ASSERT_TRUE(
        echo.Feed(repeated.data() + at, std::min<std::size_t>(65537, repeated.size() - at)));
  }
  EXPECT_EQ(echo.Finish(), 0);
  const std::string echoed = support::ReadFile(folder.path() / "echoed");
  EXPECT_EQ(echoed.size(), repeated.size());
  EXPECT_TRUE(echoed == repeated);

  TappedProgram tapped(program, {word(L"--repeat"), word(L"0123456789"), word(L"300000")});
  std::string read;
  std::vector<char> block(100000);
  while (const std::size_t count = tapped.Read(block.data(), block.size())) {
    read.append(block.data(), count);
  }
  EXPECT_EQ(tapped.Finish(), 0);
  EXPECT_EQ(read.size(), repeated.size());
  EXPECT_TRUE(read == repeated);

  // One left before its end is ended by the closed pipe, not waited for for ever.
  TappedProgram unread(program, {word(L"--repeat"), word(L"0123456789"), word(L"300000")});
  EXPECT_GT(unread.Read(block.data(), block.size()), 0u);
  EXPECT_NE(unread.Finish(), 0);

  TappedProgram missing(folder.path() / "missing", {});
  EXPECT_EQ(missing.Read(block.data(), block.size()), 0u);
  EXPECT_EQ(missing.Finish(), -1);
  FedProgram nowhere(program, {word(L"--echo")}, folder.path() / "no folder" / "echoed");
  EXPECT_FALSE(nowhere.Feed("x", 1));
  EXPECT_EQ(nowhere.Finish(), -1);
}

}  // namespace
}  // namespace launcher
