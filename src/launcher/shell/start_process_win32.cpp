// Win32 implementation of StartProcess.

#include <filesystem>

#include "launcher/platform/windows.h"
#include "launcher/shell/command_line.h"
#include "launcher/shell/start_process.h"

namespace launcher {

bool StartProcess(const std::wstring& executable, const std::wstring& arguments) {
  std::wstring commandLine =
      QuoteArgument(executable) + arguments;  // CreateProcessW may write to it
  const std::wstring folder = std::filesystem::path(executable).parent_path().wstring();
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // The path is the application name as well as the command line's head; no handles are
  // inherited, no flags, the launcher's environment.
  if (!CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace launcher
