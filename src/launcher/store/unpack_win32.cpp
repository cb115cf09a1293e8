// Win32 implementation of StartUnpacking: tar.exe from the system folder, without a console
// window.

#include "launcher/store/unpack.h"

#include "launcher/platform/system_folder_win32.h"

namespace launcher {

FedProgram StartUnpacking(const std::filesystem::path& folder) {
  // Windows' tar restores no owners for a player; the modes it is given are plain already.
  return FedProgram(SystemFolder() / L"tar.exe", {L"-xf", L"-", L"-C", folder.native()});
}

std::wstring TarMissing() {
  return L"The release couldn't be unpacked: Windows' tar is missing";
}

}  // namespace launcher
