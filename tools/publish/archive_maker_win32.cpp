// Win32 implementation of MakeArchive: tar.exe from the system folder, names read from a
// NUL-separated list, then the same archive again through gzip without a time stamp (tar.exe
// reads an archive's entries with "@"), kept only when it saves enough. Windows' tar has no
// option for the entries' times, so they are the files' own: publishing the same folder again
// still gives the same bytes.

#include "tools/publish/archive_maker.h"

#include <string>
#include <system_error>

#include "launcher/platform/run_program.h"
#include "launcher/platform/system_folder_win32.h"
#include "launcher/text/failure.h"

namespace launcher::publish {

bool MakeArchive(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& archive) {
  const std::filesystem::path list = archive.wstring() + L".names";
  const std::filesystem::path packed = archive.wstring() + L".gz";
  WriteNameList(names, list);
  const std::filesystem::path tar = SystemFolder() / L"tar.exe";
  bool made = RunToEnd(tar, {L"-c", L"--null", L"-T", list.native(), L"-C", build.native(), L"-f",
                             archive.native()}) == 0 &&
              RunToEnd(tar, {L"-c", L"-z", L"--options", L"gzip:!timestamp", L"-f", packed.native(),
                             L"@" + archive.native()}) == 0;
  std::error_code error;
  bool compressed = false;
  if (made) {
    compressed = WorthCompressing(packed, archive, error);
    if (!error && compressed) std::filesystem::rename(packed, archive, error);
  }
  made = made && !error;
  std::filesystem::remove(list, error);
  std::filesystem::remove(packed, error);
  if (!made) {
    std::filesystem::remove(archive, error);
    throw Failure{L"The archive couldn't be made: Windows' tar is missing or failed"};
  }
  return compressed;
}

}  // namespace launcher::publish
