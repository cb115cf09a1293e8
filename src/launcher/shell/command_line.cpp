#include "launcher/shell/command_line.h"

namespace launcher {

LaunchOptions ParseCommandLine(const std::vector<std::wstring>& arguments) {
  LaunchOptions options;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (argument == L"--updated") {
      options.launcherUpdateAllowed = false;
    } else if (argument == L"--repair") {
      options.repair = true;
    } else if (argument == L"--feed" && hasValue) {
      options.feedOverride = arguments[++i];
    } else if (argument == L"--check" && hasValue) {
      options.checkFile = arguments[++i];
    } else if (argument == L"--json" && hasValue) {
      options.summaryFile = arguments[++i];
    } else {
      options.gameArguments += L' ';
      options.gameArguments += QuoteArgument(argument);
    }
  }
  return options;
}

}  // namespace launcher
