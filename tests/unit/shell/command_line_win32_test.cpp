// Our command-line splitting held against the system's own CommandLineToArgvW.

#include <gtest/gtest.h>

#include "launcher/platform/windows.h"
#include "launcher/shell/command_line.h"

#include <shellapi.h>

namespace launcher {
namespace {

std::vector<std::wstring> SystemSplit(const std::wstring& commandLine) {
  int count = 0;
  LPWSTR* split = CommandLineToArgvW(commandLine.c_str(), &count);
  if (split == nullptr) return {};
  std::vector<std::wstring> arguments(split, split + count);
  LocalFree(split);
  return arguments;
}

TEST(SplitCommandLine, AgreesWithCommandLineToArgvW) {
  const std::wstring commandLines[] = {
      L"prog",
      L"\"C:\\a b\\prog.exe\" x",
      L"C:\\dir\\prog.exe\t a  b ",
      L"\"C:\\dir\\\" x",
      L"p a\"\"b",
      L"p \"x\"\"y\" \"c\\\"d\" e\\\\\"f g\" \"\"\"h\"",
      L"p a\\\\b a\\\\\\\"b \\\\\\\\\" q\"",
      L"p \"open ended",
      L"p \"\" \"\" x",
      L"p \"a\"b\"c\" d",
  };
  for (const auto& commandLine : commandLines) {
    EXPECT_EQ(SplitCommandLine(commandLine), SystemSplit(commandLine))
        << ::testing::PrintToString(commandLine);
  }
}

TEST(QuoteArgument, SurvivesCommandLineToArgvW) {
  const std::wstring awkward[] = {L"",     L"say \"hi\"", L"C:\\my dir\\", L"C:\\dir\\",
                                  L"\\\"", L"a\\\\\\\"b", L"\ttab\t",      L"trailing\\\\\\",
                                  L"\"",   L" ",          L"v\vtab",       L"line\nfeed"};
  std::wstring commandLine = L"prog";
  for (const auto& argument : awkward) commandLine += L' ' + QuoteArgument(argument);
  const auto split = SystemSplit(commandLine);
  ASSERT_EQ(split.size(), std::size(awkward) + 1);
  for (size_t i = 0; i < std::size(awkward); ++i) EXPECT_EQ(split[i + 1], awkward[i]);
}

}  // namespace
}  // namespace launcher
