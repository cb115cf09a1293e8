// Win32 implementation of MakeArchive: tar.exe from the system folder, names read from a
// NUL-separated list, then the archive compressed with zstd in this process, kept only when it
// saves enough: judged on a sample of the files first, and on the whole archive only when the
// sample compresses. Windows' tar has no
// option for the entries' times, so they are the files' own: publishing the same folder again
// still gives the same bytes.

#include "tools/publish/server/archive_maker.h"

#include <string>
#include <system_error>

#include "launcher/platform/run_program.h"
#include "launcher/platform/system_folder_win32.h"
#include "launcher/text/failure.h"
#include "tools/publish/server/zstd_pack.h"

namespace launcher::publish {

bool MakeArchive(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& archive, const ArchiveTap& tap) {
  const std::filesystem::path list = archive.wstring() + L".names";
  const std::filesystem::path packed = archive.wstring() + L".zst";
  const std::filesystem::path sample = archive.wstring() + L".sample";
  const std::filesystem::path packedSample = sample.wstring() + L".zst";
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
  // away, would cost more than all the rest of publishing.
  bool compressed = made;
  if (made && WriteSample(build, names, sample)) {
    compressed =
        PackFile(sample, packedSample) > 0 && WorthCompressing(packedSample, sample, error);
  }
  if (made && compressed) {
    compressed = PackFile(archive, packed) > 0 && WorthCompressing(packed, archive, error);
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
