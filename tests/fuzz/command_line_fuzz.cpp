// Arguments made of arbitrary UTF-16 code units: quoting them and splitting the result gives them
// back, and parsing never loses a game argument.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/shell/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Two bytes make one code unit; a zero unit ends an argument.
  std::vector<std::wstring> arguments{L"C:\\Program Files\\Quellorn\\QuellornLauncher.exe"};
  std::wstring current;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const auto unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    if (unit == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current += unit;
    }
  }
  arguments.push_back(current);

  std::wstring commandLine = launcher::QuoteArgument(arguments[0]);
  bool anyOption = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    commandLine += L' ' + launcher::QuoteArgument(arguments[i]);
    anyOption |=
        arguments[i] == L"--feed" || arguments[i] == L"--check" || arguments[i] == L"--updated";
  }
  if (launcher::SplitCommandLine(commandLine) != arguments) std::abort();

  const launcher::LaunchOptions options = launcher::ParseCommandLine(arguments);
  if (!anyOption) {
    // Without options every argument goes to the game, and the game gets them back unchanged.
    auto gameArguments = launcher::SplitCommandLine(L"game.exe" + options.gameArguments);
    gameArguments[0] = arguments[0];
    if (gameArguments != arguments) std::abort();
  }
  return 0;
}
