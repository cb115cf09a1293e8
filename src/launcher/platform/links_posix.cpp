// POSIX implementation of IsLink.

#include "launcher/platform/links.h"

#include <sys/stat.h>

namespace launcher {

bool IsLink(const std::filesystem::path& entry) {
  struct stat status {};
  return ::lstat(entry.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

}  // namespace launcher
