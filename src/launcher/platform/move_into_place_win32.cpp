// Win32 implementation of MoveIntoPlace.

#include "launcher/platform/move_into_place.h"

#include <system_error>

#include "launcher/platform/locked_files.h"
#include "launcher/platform/windows.h"

namespace launcher {

void MoveIntoPlace(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code error;
  const bool moved = RetryWhileLocked(
      [&](std::error_code& failure) {
        // MoveFileExW, not rename: the target may exist, and the store may sit on another volume
        // than the folder a file comes from.
        if (MoveFileExW(from.c_str(), to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
          return true;
        }
        failure.assign(static_cast<int>(GetLastError()), std::system_category());
        return false;
      },
      std::chrono::steady_clock::now() + kLockedFilesWait, error);
  if (!moved) throw std::filesystem::filesystem_error("rename", from, to, error);
}

}  // namespace launcher
