// Win32 implementation of IsTerminal: the C runtime's view of the console.

#include "launcher/platform/terminal.h"

#include <io.h>

namespace launcher {

bool IsTerminal(std::FILE* stream) {
  return _isatty(_fileno(stream)) != 0;
}

}  // namespace launcher
