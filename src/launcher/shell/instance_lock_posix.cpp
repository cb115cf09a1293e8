// POSIX implementation of the instance lock: flock on a file named after the lock, in
// $XDG_RUNTIME_DIR (else the temporary folder), waited for by polling.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "launcher/shell/instance_lock.h"
#include "launcher/shell/temporary_directory.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

std::filesystem::path LockFile(const std::wstring& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::filesystem::path folder = runtime != nullptr && runtime[0] != '\0'
                                           ? std::filesystem::path(runtime)
                                           : PathFromWide(TemporaryDirectory());
  // "Local\QuellornLauncher-..." names a file by what follows the backslash.
  return folder / PathFromWide(name.substr(name.rfind(L'\\') + 1) + L".lock");
}

}  // namespace

bool AcquireInstanceLock(const std::wstring& name, std::uint32_t waitMilliseconds) {
  const int fd = ::open(LockFile(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
  for (;;) {
    // The descriptor stays open, and the lock held, until the process ends.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ::close(fd);
  return false;
}

// A terminal has no window to bring forward.
void ShowRunningLauncher() {}

}  // namespace launcher
