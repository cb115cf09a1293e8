// Win32 implementation of MakeArchive: tar.exe from the system folder, gzip without a time stamp,
// names read from a NUL-separated list. Windows' tar has no option for the entries' times, so
// they are the files' own: publishing the same folder again still gives the same bytes.

#include <string>
#include <system_error>

#include "launcher/platform/run_program_win32.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "tools/publish/archive_maker.h"

namespace launcher::publish {

void MakeArchive(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& archive) {
  const std::filesystem::path list = archive.wstring() + L".names";
  WriteNameList(names, list);
  const std::optional<DWORD> exitCode = RunToEnd(Format(
      L"\"{}\\tar.exe\" -c -z --options gzip:!timestamp --null -T \"{}\" -C \"{}\" -f \"{}\"",
      SystemFolder(), list.wstring(), build.wstring(), archive.wstring()));
  std::error_code ignored;
  std::filesystem::remove(list, ignored);
  if (exitCode != 0u) {
    std::filesystem::remove(archive, ignored);
    throw Failure{L"The archive couldn't be made: Windows' tar is missing or failed"};
  }
}

}  // namespace launcher::publish
