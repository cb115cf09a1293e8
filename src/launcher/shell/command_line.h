#pragma once
// The launcher's command line: its options, the arguments passed on to the game, and quoting for
// Windows command lines in both directions. Pure logic.

#include <string>
#include <vector>

namespace launcher {

struct LaunchOptions {
  std::wstring feedOverride;          // "--feed" URL; empty: launcher.json or the built-in URL
  std::wstring checkFile;             // "--check" result file; empty: window mode
  bool launcherUpdateAllowed = true;  // false after "--updated"
  std::wstring gameArguments;         // empty, or a space and a quoted argument for each one
};

// `arguments` as CommandLineToArgvW splits the command line, the program itself at index 0.
// No argument is ever rejected: whatever isn't an option goes to the game.
LaunchOptions ParseCommandLine(const std::vector<std::wstring>& arguments);

// One argument quoted so that CommandLineToArgvW gives it back unchanged; quotes only when needed.
std::wstring QuoteArgument(const std::wstring& argument);

// Splits a command line by CommandLineToArgvW's rules (the inverse of joining QuoteArgument
// results with spaces): the first argument is the program name, taken up to the next quote when
// it begins with one and never unescaped.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

}  // namespace launcher
