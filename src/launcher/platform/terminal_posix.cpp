// POSIX implementation of IsTerminal.

#include "launcher/platform/terminal.h"

#include <unistd.h>

namespace launcher {

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

}  // namespace launcher
