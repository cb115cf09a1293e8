// Win32 implementation of the instance lock: a named mutex, and the other launcher's window.

#include "launcher/platform/windows.h"
#include "launcher/shell/instance_lock.h"

namespace launcher {

bool AcquireInstanceLock(const std::wstring& name, std::uint32_t waitMilliseconds) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return false;
  const DWORD result = WaitForSingleObject(mutex, waitMilliseconds);
  // Abandoned is what the next launcher sees after one that held the lock has exited.
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
    return true;  // the handle stays open, and the lock held, until the process ends
  }
  CloseHandle(mutex);
  return false;
}

void ShowRunningLauncher() {
  if (HWND window = FindWindowW(L"QuellornLauncher", nullptr)) {
    ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
  }
}

}  // namespace launcher
