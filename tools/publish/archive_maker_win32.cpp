// Win32 implementation of MakeArchive: tar.exe from the system folder, gzip without a time stamp,
// names read from a NUL-separated list. Windows' tar has no option for the entries' times, so
// they are the files' own: publishing the same folder again still gives the same bytes.

#include "tools/publish/archive_maker.h"

#include <string>
#include <system_error>

#include "launcher/platform/run_program.h"
#include "launcher/platform/system_folder_win32.h"
#include "launcher/text/failure.h"

namespace launcher::publish {

void MakeArchive(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& archive) {
  const std::filesystem::path list = archive.wstring() + L".names";
  WriteNameList(names, list);
  const std::optional<int> exitCode =
      RunToEnd(SystemFolder() / L"tar.exe",
               {L"-c", L"-z", L"--options", L"gzip:!timestamp", L"--null", L"-T", list.native(),
                L"-C", build.native(), L"-f", archive.native()});
  std::error_code ignored;
  std::filesystem::remove(list, ignored);
  if (exitCode != 0) {
    std::filesystem::remove(archive, ignored);
    throw Failure{L"The archive couldn't be made: Windows' tar is missing or failed"};
  }
}

}  // namespace launcher::publish
