// POSIX implementation of ReplaceFileDurably: write, fsync, rename, fsync the folder.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "launcher/store/durable_replace.h"

namespace launcher {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

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

bool ReplaceFileDurably(const std::filesystem::path& target, const std::filesystem::path& temporary,
                        std::string_view bytes) {
  Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (file.get() < 0 || !WriteAll(file.get(), bytes) || ::fsync(file.get()) != 0 || !file.Close()) {
    return false;
  }
  if (std::rename(temporary.c_str(), target.c_str()) != 0) return false;
  // The rename itself is only durable once the folder that records it is.
  Descriptor folder(::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) ::fsync(folder.get());
  return true;
}

}  // namespace launcher
