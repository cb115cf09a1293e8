#pragma once
// The launcher's command line: its options and the arguments passed on to the game. Pure logic.

#include <string>
#include <vector>

#include "launcher/platform/command_line_words.h"

namespace launcher {

struct LaunchOptions {
  std::wstring feedOverride;          // "--feed" URL; empty: launcher.json or the built-in URL
  std::wstring checkFile;             // "--check" result file; empty: window mode
  std::wstring summaryFile;           // "--json" summary of a check, in JSON; empty: none
  bool launcherUpdateAllowed = true;  // false after "--updated"
  bool repair = false;                // "--repair": every file of the installed version hashed
  std::wstring gameArguments;         // empty, or a space and a quoted argument for each one
};

// `arguments` as CommandLineToArgvW splits the command line, the program itself at index 0.
// No argument is ever rejected: whatever isn't an option goes to the game.
LaunchOptions ParseCommandLine(const std::vector<std::wstring>& arguments);

}  // namespace launcher
