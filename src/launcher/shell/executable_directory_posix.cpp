// POSIX implementation of ExecutableDirectory: the link /proc/self/exe names the executable.

#include "launcher/shell/executable_directory.h"

#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "launcher/text/text.h"

namespace launcher {

std::filesystem::path ExecutableDirectory() {
  std::string buffer(260, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) throw std::system_error(errno, std::generic_category(), "readlink");
    // readlink cuts silently: a full buffer means the path may be longer.
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      return PathFromWide(ParentDirectory(Widen(buffer)));
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace launcher
