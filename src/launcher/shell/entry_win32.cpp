// The Windows entry point: the command line comes from GetCommandLineW, split by the system.

#include <string>
#include <vector>

#include "launcher/platform/windows.h"  // before <shellapi.h>, which needs its types
#include "launcher/shell/startup.h"

#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  std::vector<std::wstring> arguments;
  int count = 0;
  if (LPWSTR* split = CommandLineToArgvW(GetCommandLineW(), &count)) {
    arguments.assign(split, split + count);
    LocalFree(split);
  }
  return launcher::RunLauncher(arguments);
}
