// Win32 implementation of IsLockedError: a sharing or lock violation, or access denied (what a
// delete of a file that is open, or marked for deletion, answers), whether the error came from
// the system or through the C runtime.

#include "launcher/platform/locked_files.h"

#include "launcher/platform/windows.h"

namespace launcher {

bool IsLockedError(const std::error_code& error) {
  if (error.category() == std::system_category()) {
    const auto code = static_cast<DWORD>(error.value());
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION ||
           code == ERROR_ACCESS_DENIED;
  }
  return error == std::errc::permission_denied || error == std::errc::device_or_resource_busy;
}

}  // namespace launcher
