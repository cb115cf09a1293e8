// Win32 implementation of StartProcess.

#include "launcher/shell/start_process.h"

#include <filesystem>

#include "launcher/platform/command_line_words.h"
#include "launcher/platform/handles_win32.h"

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
  // Never waited for: the handles only have to be let go.
  const KernelHandle thread(process.hThread);
  const KernelHandle child(process.hProcess);
  return true;
}

}  // namespace launcher
