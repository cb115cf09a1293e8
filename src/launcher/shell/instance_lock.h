#pragma once
// Two launchers must never update one client store at once, however they reach it (a link or
// junction, a short name, a mapped drive): the lock belongs to the store as the file system
// resolves it. Windows: a named mutex named after the resolved path. Linux: flock on the file
// ".lock" in the store itself, which no other user can have made. The start-up holds it until the
// run ends.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace launcher {

// "Local\QuellornLauncher-" and 16 hex digits of the 64-bit FNV-1a hash of the root's UTF-16LE
// bytes, after "\" became "/" and A-Z were lowered.
std::wstring InstanceLockName(const std::wstring& storeRoot);

// The lock, held for as long as this object lives; empty when it wasn't taken.
class InstanceLock {
 public:
  struct Held;  // the platform's handle
  InstanceLock();
  explicit InstanceLock(std::unique_ptr<Held> held);
  ~InstanceLock();
  InstanceLock(InstanceLock&&) noexcept;
  InstanceLock& operator=(InstanceLock&&) noexcept;

  explicit operator bool() const { return held_ != nullptr; }

 private:
  std::unique_ptr<Held> held_;
};

// Waits up to `waitMilliseconds` for the lock of the store at `storeRoot`, making the store's
// folder if need be. Empty when another launcher holds it; throws Failure with the reason when
// the lock can't be made at all (never taken for another launcher's).
InstanceLock AcquireInstanceLock(const std::filesystem::path& storeRoot,
                                 std::uint32_t waitMilliseconds);

// The folder's path as the file system resolves it: links, junctions, short names and "\\?\"
// prefixes followed to the one path. The given path when it can't be resolved.
std::filesystem::path ResolvedFolder(const std::filesystem::path& folder);

// What a launcher in window mode does when another one holds the lock: bring that one's window to
// the front, if there is a window to find.
void ShowRunningLauncher();

}  // namespace launcher
