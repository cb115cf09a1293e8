// POSIX implementation of TemporaryDirectory.

#include <cstdlib>

#include "launcher/shell/temporary_directory.h"
#include "launcher/text/text.h"

namespace launcher {

std::wstring TemporaryDirectory() {
  const char* folder = std::getenv("TMPDIR");
  std::wstring path = Widen(folder != nullptr && folder[0] != '\0' ? folder : "/tmp");
  if (path.back() != L'/') path += L'/';
  return path;
}

}  // namespace launcher
