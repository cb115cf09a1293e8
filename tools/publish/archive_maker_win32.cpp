// Win32 implementation of MakeArchive: tar.exe from the system folder, gzip without a time stamp,
// names read from a NUL-separated list. Windows' tar has no option for the entries' times, so
// they are the files' own: publishing the same folder again still gives the same bytes.

#include <fstream>
#include <string>
#include <system_error>

#include "launcher/platform/windows.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/text.h"
#include "tools/publish/archive_maker.h"

namespace launcher::publish {

void MakeArchive(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& archive) {
  const std::filesystem::path list = archive.wstring() + L".names";
  {
    std::ofstream out(list, std::ios::binary);
    for (const auto& name : names) out << Narrow(name) << '\0';
    if (!out.flush()) throw Failure{L"The archive's list of names couldn't be written"};
  }
  wchar_t system[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring systemFolder(system, length < MAX_PATH ? length : 0);
  std::wstring commandLine = Format(
      L"\"{}\\tar.exe\" -c -z --options gzip:!timestamp --null -T \"{}\" -C \"{}\" -f \"{}\"",
      systemFolder, list.wstring(), build.wstring(), archive.wstring());

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  DWORD exitCode = 1;
  if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                     nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  std::error_code ignored;
  std::filesystem::remove(list, ignored);
  if (exitCode != 0) {
    std::filesystem::remove(archive, ignored);
    throw Failure{L"The archive couldn't be made: Windows' tar is missing or failed"};
  }
}

}  // namespace launcher::publish
