// Win32 implementation of ExecutableDirectory.

#include "launcher/shell/executable_directory.h"

#include <system_error>

#include "launcher/platform/windows.h"
#include "launcher/text/text.h"

namespace launcher {

std::filesystem::path ExecutableDirectory() {
  std::wstring buffer(260, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                              "GetModuleFileNameW");
    }
    // A full buffer means the path may have been cut: try again with twice the room.
    if (length < buffer.size()) {
      buffer.resize(length);
      return PathFromWide(ParentDirectory(buffer));
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace launcher
