// POSIX implementation of ReplaceFileDurably: write, fsync, rename, fsync the folder.

#include "launcher/platform/durable_replace.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>

#include "launcher/platform/file_descriptor.h"

namespace launcher {

namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

bool WriteFileDurably(const std::filesystem::path& file, std::string_view bytes) {
  FileDescriptor out(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  // A write error may only show when the file is closed.
  return out && WriteAll(out.Get(), bytes) && ::fsync(out.Get()) == 0 &&
         ::close(out.Release()) == 0;
}

bool ReplaceFileDurably(const std::filesystem::path& target, const std::filesystem::path& temporary,
                        std::string_view bytes) {
  return WriteFileDurably(temporary, bytes) && MoveDurably(temporary, target);
}

bool MoveDurably(const std::filesystem::path& temporary, const std::filesystem::path& target) {
  if (std::rename(temporary.c_str(), target.c_str()) != 0) return false;
  // The rename itself is only durable once the folder that records it is.
  FileDescriptor folder(::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder) ::fsync(folder.Get());
  return true;
}

}  // namespace launcher
