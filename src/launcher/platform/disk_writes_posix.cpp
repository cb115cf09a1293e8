// POSIX implementation of FlushToDisk: one syncfs of the store's file system, which costs far
// less than an fsync per file and covers the files tar wrote too. StartWritingToDisk asks Linux
// to begin the write of one file's dirty pages.

#include "launcher/platform/disk_writes.h"

#include <fcntl.h>

#include "launcher/platform/file_descriptor.h"

namespace launcher {

bool FlushToDisk(const std::filesystem::path& folder) {
  const FileDescriptor opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return opened && ::syncfs(opened.Get()) == 0;
}

void StartWritingToDisk(const std::filesystem::path& file) {
  // Whatever an archive made there: a link isn't followed, and a pipe doesn't wait for a writer.
  const FileDescriptor opened(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (opened) ::sync_file_range(opened.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);
}

}  // namespace launcher
