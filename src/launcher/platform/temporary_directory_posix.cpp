// POSIX implementation of TemporaryDirectory.

#include "launcher/platform/temporary_directory.h"

#include <cstdlib>
#include <string>

namespace launcher {

std::filesystem::path TemporaryDirectory() {
  const char* folder = std::getenv("TMPDIR");
  std::string path = folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

}  // namespace launcher
