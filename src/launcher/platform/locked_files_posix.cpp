// POSIX implementation of IsLockedError: nothing locks a file against renames or deletes here.

#include "launcher/platform/locked_files.h"

namespace launcher {

bool IsLockedError(const std::error_code&) {
  return false;
}

}  // namespace launcher
