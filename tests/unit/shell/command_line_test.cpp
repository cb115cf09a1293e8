#include "launcher/shell/command_line.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

struct ParseCase {
  std::vector<std::wstring> arguments;  // after the program
  std::wstring feedOverride;
  std::wstring checkFile;
  bool launcherUpdateAllowed;
  std::wstring gameArguments;
  bool repair = false;
  std::wstring summaryFile;
};

TEST(ParseCommandLine, SortsOptionsFromGameArguments) {
  const ParseCase cases[] = {
      {{}, L"", L"", true, L""},
      {{L"--feed", L"F", L"--check", L"out.txt", L"--updated", L"a", L"b c"},
       L"F",
       L"out.txt",
       false,
       L" a \"b c\""},
      {{L"--check"}, L"", L"", true, L" --check"},
      {{L"--feed"}, L"", L"", true, L" --feed"},
      {{L"--feed", L""}, L"", L"", true, L""},
      {{L"--check", L""}, L"", L"", true, L""},
      // A value is taken as it is, even when it looks like an option.
      {{L"--feed", L"--updated"}, L"--updated", L"", true, L""},
      {{L"--feed=url", L"--FEED", L"x"}, L"", L"", true, L" --feed=url --FEED x"},
      {{L"--feed", L"a", L"--feed", L"b", L"--updated", L"--updated"}, L"b", L"", false, L""},
      {{L"-windowed", L"save 2", L"--check", L"r.txt"},
       L"",
       L"r.txt",
       true,
       L" -windowed \"save 2\""},
      {{L""}, L"", L"", true, L" \"\""},
      {{L"--repair", L"-windowed", L"--REPAIR"}, L"", L"", true, L" -windowed --REPAIR", true},
      {{L"--check", L"c.txt", L"--json", L"s.json"}, L"", L"c.txt", true, L"", false, L"s.json"},
      {{L"--json"}, L"", L"", true, L" --json"},
  };
  for (const auto& c : cases) {
    std::vector<std::wstring> arguments{L"C:\\Games\\QuellornLauncher.exe"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const LaunchOptions options = ParseCommandLine(arguments);
    SCOPED_TRACE(::testing::PrintToString(c.gameArguments));
    EXPECT_EQ(options.feedOverride, c.feedOverride);
    EXPECT_EQ(options.checkFile, c.checkFile);
    EXPECT_EQ(options.launcherUpdateAllowed, c.launcherUpdateAllowed);
    EXPECT_EQ(options.gameArguments, c.gameArguments);
    EXPECT_EQ(options.repair, c.repair);
    EXPECT_EQ(options.summaryFile, c.summaryFile);
  }
}

TEST(ParseCommandLine, NeverLooksAtTheProgramItself) {
  EXPECT_TRUE(ParseCommandLine({L"--updated"}).launcherUpdateAllowed);
  const LaunchOptions options = ParseCommandLine({L"--feed", L"x"});
  EXPECT_EQ(options.feedOverride, L"");
  EXPECT_EQ(options.gameArguments, L" x");
  EXPECT_EQ(ParseCommandLine({}).gameArguments, L"");
}

TEST(QuoteArgument, QuotesOnlyWhenNeeded) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"plain", L"plain"},
      {L"C:\\dir\\", L"C:\\dir\\"},
      {L"a\\\\b", L"a\\\\b"},
      {L"", L"\"\""},
      {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
      {L"C:\\my dir\\", L"\"C:\\my dir\\\\\""},
      {L"tab\there", L"\"tab\there\""},
      {L"line\nfeed", L"\"line\nfeed\""},
      {L"v\vtab", L"\"v\vtab\""},
      {L"\"", L"\"\\\"\""},
      {L"a\\\"b", L"\"a\\\\\\\"b\""},  // one backslash before a quote: 3 then the quote
      {L"a\\\\ b", L"\"a\\\\ b\""},    // backslashes before a space stay as they are
      {L"end\\\\ ", L"\"end\\\\ \""},
      {L"x \\\\", L"\"x \\\\\\\\\""},  // two trailing backslashes become four
  };
  for (const auto& [argument, quoted] : cases) {
    EXPECT_EQ(QuoteArgument(argument), quoted) << ::testing::PrintToString(argument);
  }
}

TEST(SplitCommandLine, IsTheInverseOfQuoteArgument) {
  const std::vector<std::wstring> awkward = {L"",
                                             L"plain",
                                             L"two words",
                                             L"\"",
                                             L"\"\"",
                                             L"say \"hi\"",
                                             L"\\",
                                             L"\\\\",
                                             L"C:\\my dir\\",
                                             L"C:\\dir\\",
                                             L"\\\"",
                                             L"a\\\\\\\"b",
                                             L"\ttab\t",
                                             L"line\nfeed",
                                             L"v\vtab",
                                             L" ",
                                             L"--check",
                                             L"trailing\\\\\\",
                                             L"\"quoted at both ends\"",
                                             L"\u00E9t\u00E9 \u2026"};
  std::wstring commandLine = QuoteArgument(L"C:\\Program Files\\Game\\QuellornLauncher.exe");
  for (const auto& argument : awkward) commandLine += L' ' + QuoteArgument(argument);
  std::vector<std::wstring> expected{L"C:\\Program Files\\Game\\QuellornLauncher.exe"};
  expected.insert(expected.end(), awkward.begin(), awkward.end());
  EXPECT_EQ(SplitCommandLine(commandLine), expected);
}

TEST(SplitCommandLine, FollowsTheSystemRules) {
  const std::pair<std::wstring, std::vector<std::wstring>> cases[] = {
      {L"", {}},
      {L"prog", {L"prog"}},
      {L"\"C:\\a b\\prog.exe\" x", {L"C:\\a b\\prog.exe", L"x"}},
      {L"C:\\dir\\prog.exe\t a  b ", {L"C:\\dir\\prog.exe", L"a", L"b"}},
      {L"\"C:\\dir\\\" x", {L"C:\\dir\\", L"x"}},  // the program name has no escapes
      {L"p a\"\"b", {L"p", L"ab"}},
      {L"p \"x\"\"y\" \"c\\\"d\" e\\\\\"f g\" \"\"\"h\"", {L"p", L"x\"y c\"d e\\f", L"g \"h"}},
      {L"p a\\\\b a\\\\\\\"b", {L"p", L"a\\\\b", L"a\\\"b"}},
      {L"p \"open ended", {L"p", L"open ended"}},
  };
  for (const auto& [commandLine, arguments] : cases) {
    EXPECT_EQ(SplitCommandLine(commandLine), arguments) << ::testing::PrintToString(commandLine);
  }
}

}  // namespace
}  // namespace launcher
