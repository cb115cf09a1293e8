#pragma once
// Two launchers must never update one client store at once. The lock is named after the store's
// root, so launchers of one installation exclude each other and those of different ones don't.
// The start-up holds it until the run ends.

#include <cstdint>
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

// Waits up to `waitMilliseconds` for the lock. Empty when another launcher holds it, or when it
// can't be made at all.
InstanceLock AcquireInstanceLock(const std::wstring& name, std::uint32_t waitMilliseconds);

// What a launcher in window mode does when another one holds the lock: bring that one's window to
// the front, if there is a window to find.
void ShowRunningLauncher();

}  // namespace launcher
