// Win32 implementation of Unpack: tar.exe from the system folder, without a console window.

#include "launcher/store/unpack.h"

#include "launcher/platform/run_program.h"
#include "launcher/platform/system_folder_win32.h"
#include "launcher/text/failure.h"

namespace launcher {

void Unpack(const std::filesystem::path& archive, const std::filesystem::path& folder) {
  const std::optional<int> exitCode =
      RunToEnd(SystemFolder() / L"tar.exe", {L"-xf", archive.native(), L"-C", folder.native()});
  if (!exitCode) throw Failure{L"The release couldn't be unpacked: Windows' tar is missing"};
  if (*exitCode != 0) throw Failure{L"The release couldn't be unpacked"};
}

FedProgram StartUnpacking(const std::filesystem::path& folder, bool /*gzip*/) {
  return FedProgram(SystemFolder() / L"tar.exe", {L"-xf", L"-", L"-C", folder.native()});
}

}  // namespace launcher
