// POSIX implementation of MoveDurably: rename, then fsync the folder that records it.

#include "launcher/platform/durable_replace.h"

#include <fcntl.h>

#include <cstdio>

#include "launcher/platform/file_descriptor.h"

namespace launcher {

bool MoveDurably(const std::filesystem::path& temporary, const std::filesystem::path& target) {
  if (std::rename(temporary.c_str(), target.c_str()) != 0) return false;
  // The rename itself is only durable once the folder that records it is.
  FileDescriptor folder(::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder) ::fsync(folder.Get());
  return true;
}

}  // namespace launcher
