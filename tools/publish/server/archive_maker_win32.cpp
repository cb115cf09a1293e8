// Win32 implementation of MakeArchive: tar.exe from the system folder, names read from a
// NUL-separated list, then the same archive again through gzip without a time stamp (tar.exe
// reads an archive's entries with "@"), kept only when it saves enough: judged on a sample of the
// files first, and on the whole archive only when the sample compresses. Windows' tar has no
// option for the entries' times, so they are the files' own: publishing the same folder again
// still gives the same bytes.

#include "tools/publish/server/archive_maker.h"

#include <string>
#include <system_error>

#include "launcher/platform/run_program.h"
#include "launcher/platform/system_folder_win32.h"
#include "launcher/text/failure.h"

namespace launcher::publish {

bool MakeArchive(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& archive, const ArchiveTap& tap) {
  const std::filesystem::path list = archive.wstring() + L".names";
  const std::filesystem::path packed = archive.wstring() + L".gz";
  const std::filesystem::path sample = archive.wstring() + L".sample";
  const std::filesystem::path packedSample = sample.wstring() + L".gz";
  const Leftovers leftovers{{list, packed, sample, packedSample}};
  WriteNameList(names, list);
  const std::filesystem::path tar = SystemFolder() / L"tar.exe";
  // Written to its file by tar, and only then read for the tap: tar's bytes are fixed by then,
  // and no pipe's text mode can touch them.
  bool made = RunToEnd(tar, {L"-c", L"--null", L"-T", list.native(), L"-C", build.native(), L"-f",
                             archive.native()}) == 0 &&
              TapFile(archive, tap);
  std::error_code error;
  // Compressing a gigabyte of game data that is compressed already, only to throw the result
  // away, would cost more than all the rest of publishing. The sample goes through gzip inside
  // an archive of its own: tar.exe compresses nothing else.
  bool compressed = made;
  if (made && WriteSample(build, names, sample)) {
    made =
        RunToEnd(tar, {L"-c", L"-z", L"--options", L"gzip:!timestamp", L"-f", packedSample.native(),
                       L"-C", sample.parent_path().native(), sample.filename().native()}) == 0;
    compressed = made && WorthCompressing(packedSample, sample, error);
  }
  if (made && compressed) {
    made = RunToEnd(tar, {L"-c", L"-z", L"--options", L"gzip:!timestamp", L"-f", packed.native(),
                          L"@" + archive.native()}) == 0;
    compressed = made && WorthCompressing(packed, archive, error);
    if (!error && compressed) std::filesystem::rename(packed, archive, error);
  }
  made = made && !error;
  if (!made) {
    std::filesystem::remove(archive, error);
    throw Failure{L"The archive couldn't be made: Windows' tar is missing or failed"};
  }
  return compressed;
}

}  // namespace launcher::publish
