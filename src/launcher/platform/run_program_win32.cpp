// Win32 implementation of RunToEnd: CreateProcessW, then a wait without a time limit.

#include "launcher/platform/run_program_win32.h"

namespace launcher {

std::wstring SystemFolder() {
  wchar_t system[260] = {};
  const UINT length = GetSystemDirectoryW(system, static_cast<UINT>(std::size(system)));
  return std::wstring(system, length < std::size(system) ? length : 0);
}

std::optional<DWORD> RunToEnd(std::wstring commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // No application name: the command line's first quoted word names the program.
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &process)) {
    return std::nullopt;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 1;  // a code that can't be read counts as a failure
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return exitCode;
}

}  // namespace launcher
