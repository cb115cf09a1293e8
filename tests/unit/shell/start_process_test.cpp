#include "launcher/shell/start_process.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace launcher
