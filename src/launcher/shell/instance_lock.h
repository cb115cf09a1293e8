#pragma once
// Two launchers must never update one client store at once. The lock is named after the store's
// root, so launchers of one installation exclude each other and those of different ones don't.
// Once taken it is held until the process ends.

#include <cstdint>
#include <string>

namespace launcher {

// "Local\QuellornLauncher-" and 16 hex digits of the 64-bit FNV-1a hash of the root's UTF-16LE
// bytes, after "\" became "/" and A-Z were lowered.
std::wstring InstanceLockName(const std::wstring& storeRoot);

// Waits up to `waitMilliseconds` for the lock. False when another launcher holds it, or when it
// can't be made at all.
bool AcquireInstanceLock(const std::wstring& name, std::uint32_t waitMilliseconds);

// What a launcher in window mode does when another one holds the lock: bring that one's window to
// the front, if there is a window to find.
void ShowRunningLauncher();

}  // namespace launcher
