#include "launcher/shell/executable_directory.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

TEST(ParentDirectory, CutsAtTheLastSeparator) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"C:\\Games\\Quellorn\\QuellornLauncher.exe", L"C:\\Games\\Quellorn"},
      {L"C:\\Games\\\\QuellornLauncher.exe", L"C:\\Games"},
      {L"C:/Games/Quellorn/QuellornLauncher.exe", L"C:/Games/Quellorn"},
      {L"\\\\server\\share\\QuellornLauncher.exe", L"\\\\server\\share"},
      {L"/opt/quellorn/quellorn-launcher", L"/opt/quellorn"},
      // A root keeps its separator: "C:" alone would mean the current folder of drive C.
      {L"C:\\QuellornLauncher.exe", L"C:\\"},
      {L"/quellorn-launcher", L"/"},
      {L"QuellornLauncher.exe", L""},
  };
  for (const auto& [file, directory] : cases) EXPECT_EQ(ParentDirectory(file), directory) << file;
}

TEST(ExecutableDirectory, IsTheFolderOfTheRunningProgram) {
  const auto directory = ExecutableDirectory();
  EXPECT_TRUE(directory.is_absolute());
  EXPECT_TRUE(std::filesystem::is_regular_file(directory / LAUNCHER_TESTS_FILE_NAME)) << directory;
}

}  // namespace
}  // namespace launcher
