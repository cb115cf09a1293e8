// Win32 implementation of the instance lock: a named mutex, and the other launcher's window.

#include "launcher/shell/instance_lock.h"

#include "launcher/platform/handles_win32.h"

namespace launcher {

struct InstanceLock::Held {
  explicit Held(KernelHandle owned) : mutex(std::move(owned)) {}
  ~Held() { ReleaseMutex(mutex.Get()); }  // then closed; a launcher that exits abandons it
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;

  KernelHandle mutex;
};

// The instance lock's owner is defined here, where its handle type is known.
InstanceLock::InstanceLock() = default;
InstanceLock::InstanceLock(std::unique_ptr<Held> held) : held_(std::move(held)) {}
InstanceLock::~InstanceLock() = default;
InstanceLock::InstanceLock(InstanceLock&&) noexcept = default;
InstanceLock& InstanceLock::operator=(InstanceLock&&) noexcept = default;

InstanceLock AcquireInstanceLock(const std::wstring& name, std::uint32_t waitMilliseconds) {
  KernelHandle mutex(CreateMutexW(nullptr, FALSE, name.c_str()));
  if (!mutex) return {};
  const DWORD result = WaitForSingleObject(mutex.Get(), waitMilliseconds);
  // Abandoned is what the next launcher sees after one that held the lock has exited.
  if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) return {};
  return InstanceLock(std::make_unique<InstanceLock::Held>(std::move(mutex)));
}

void ShowRunningLauncher() {
  if (HWND window = FindWindowW(L"QuellornLauncher", nullptr)) {
    ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
  }
}

}  // namespace launcher
