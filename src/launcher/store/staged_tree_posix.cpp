// POSIX implementation of FlushToDisk: one syncfs of the store's file system, which costs far
// less than an fsync per file and covers the files tar wrote too.

#include "launcher/store/staged_tree.h"

#include <fcntl.h>

#include "launcher/platform/file_descriptor.h"
#include "launcher/text/failure.h"

namespace launcher {

void FlushToDisk(const std::filesystem::path& folder) {
  const FileDescriptor opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened || ::syncfs(opened.Get()) != 0) {
    throw Failure{L"The new version couldn't be written to the disk"};
  }
}

}  // namespace launcher
