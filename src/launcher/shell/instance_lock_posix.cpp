// POSIX implementation of the instance lock: flock on ".lock" in the store itself, waited for by
// polling. The file lives with the store, so every path to the store reaches the same file, and
// it is this user's own: no other user can have made it first.

#include "launcher/shell/instance_lock.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>

#include "launcher/platform/file_descriptor.h"
#include "launcher/text/failure.h"
#include "launcher/text/text.h"

namespace launcher {

struct InstanceLock::Held {
  explicit Held(FileDescriptor open) : file(std::move(open)) {}
  FileDescriptor file;  // the lock is held while it is open
};

InstanceLock::InstanceLock() = default;
InstanceLock::InstanceLock(std::unique_ptr<Held> held) : held_(std::move(held)) {}
InstanceLock::~InstanceLock() = default;
InstanceLock::InstanceLock(InstanceLock&&) noexcept = default;
InstanceLock& InstanceLock::operator=(InstanceLock&&) noexcept = default;

namespace {

[[noreturn]] void CantWrite(int error) {
  throw Failure{L"Quellorn's folder can't be written: " + Widen(std::strerror(error))};
}

}  // namespace

std::filesystem::path ResolvedFolder(const std::filesystem::path& folder) {
  char* resolved = ::realpath(folder.c_str(), nullptr);
  if (resolved == nullptr) return folder;
  std::filesystem::path path(resolved);
  ::free(resolved);
  return path;
}

InstanceLock AcquireInstanceLock(const std::filesystem::path& storeRoot,
                                 std::uint32_t waitMilliseconds) {
  std::error_code error;
  std::filesystem::create_directories(storeRoot, error);
  if (error) CantWrite(error.value());
  // No link followed: the lock is the store's own file.
  FileDescriptor file(
      ::open((storeRoot / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!file) CantWrite(errno);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
  for (;;) {
    if (::flock(file.Get(), LOCK_EX | LOCK_NB) == 0) {
      return InstanceLock(std::make_unique<InstanceLock::Held>(std::move(file)));
    }
    if (errno != EWOULDBLOCK && errno != EINTR) CantWrite(errno);
    if (std::chrono::steady_clock::now() >= deadline) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

// A terminal has no window to bring forward.
void ShowRunningLauncher() {}

}  // namespace launcher
