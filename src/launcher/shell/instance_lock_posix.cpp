// POSIX implementation of the instance lock: flock on a file named after the lock, in
// $XDG_RUNTIME_DIR (else the temporary folder), waited for by polling.

#include "launcher/shell/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "launcher/platform/file_descriptor.h"
#include "launcher/platform/temporary_directory.h"
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

std::filesystem::path LockFile(const std::wstring& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::filesystem::path folder = runtime != nullptr && runtime[0] != '\0'
                                           ? std::filesystem::path(runtime)
                                           : TemporaryDirectory();
  // "Local\QuellornLauncher-..." names a file by what follows the backslash.
  return folder / PathFromWide(name.substr(name.rfind(L'\\') + 1) + L".lock");
}

}  // namespace

InstanceLock AcquireInstanceLock(const std::wstring& name, std::uint32_t waitMilliseconds) {
  FileDescriptor file(::open(LockFile(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!file) return {};
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
  for (;;) {
    if (::flock(file.Get(), LOCK_EX | LOCK_NB) == 0) {
      return InstanceLock(std::make_unique<InstanceLock::Held>(std::move(file)));
    }
    if (std::chrono::steady_clock::now() >= deadline) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

// A terminal has no window to bring forward.
void ShowRunningLauncher() {}

}  // namespace launcher
