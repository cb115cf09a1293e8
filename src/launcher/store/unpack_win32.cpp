// Win32 implementation of Unpack: tar.exe from the system folder, without a console window.

#include "launcher/platform/run_program_win32.h"
#include "launcher/store/unpack.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"

namespace launcher {

void Unpack(const std::filesystem::path& archive, const std::filesystem::path& folder) {
  const std::optional<DWORD> exitCode =
      RunToEnd(Format(L"\"{}\\tar.exe\" -xf \"{}\" -C \"{}\"", SystemFolder(), archive.wstring(),
                      folder.wstring()));
  if (!exitCode) throw Failure{L"The release couldn't be unpacked: Windows' tar is missing"};
  if (*exitCode != 0) throw Failure{L"The release couldn't be unpacked"};
}

}  // namespace launcher
