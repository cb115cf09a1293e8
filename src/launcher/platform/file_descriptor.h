#pragma once
// The owner of a POSIX file descriptor: move-only, closed exactly once. Linux only; the Windows
// counterpart is handles_win32.h.

#include <unistd.h>

#include "launcher/platform/scoped_handle.h"

namespace launcher {

struct FileDescriptorTraits {
  using Handle = int;
  static Handle Invalid() { return -1; }
  static void Close(Handle fd) { ::close(fd); }
};
using FileDescriptor = ScopedHandle<FileDescriptorTraits>;

}  // namespace launcher
