// Win32 implementation of Unpack: tar.exe from the system folder, without a console window.

#include <string>
#include <vector>

#include "launcher/platform/windows.h"
#include "launcher/store/unpack.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"

namespace launcher {

void Unpack(const std::filesystem::path& archive, const std::filesystem::path& folder) {
  wchar_t system[260] = {};
  const UINT length = GetSystemDirectoryW(system, static_cast<UINT>(std::size(system)));
  const std::wstring systemFolder(system, length < std::size(system) ? length : 0);
  std::wstring commandLine = Format(L"\"{}\\tar.exe\" -xf \"{}\" -C \"{}\"", systemFolder,
                                    archive.wstring(), folder.wstring());

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // No application name: the command line's first quoted word names the program.
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &process)) {
    throw Failure{L"The release couldn't be unpacked: Windows' tar is missing"};
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 1;  // a code that can't be read counts as a failed unpack
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (exitCode != 0) throw Failure{L"The release couldn't be unpacked"};
}

}  // namespace launcher
