// Win32 implementation of the instance lock: a named mutex named after the store's resolved
// path, and the other launcher's window.

#include "launcher/shell/instance_lock.h"

#include <string>

#include "launcher/platform/handles_win32.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"

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

std::filesystem::path ResolvedFolder(const std::filesystem::path& folder) {
  // FILE_FLAG_BACKUP_SEMANTICS opens a folder; no access is asked, only its identity.
  const FileHandle handle(CreateFileW(folder.c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return folder;
  std::wstring resolved(MAX_PATH, L'\0');
  DWORD length = 0;
  for (;;) {
    length = GetFinalPathNameByHandleW(handle.Get(), resolved.data(),
                                       static_cast<DWORD>(resolved.size()), FILE_NAME_NORMALIZED);
    if (length == 0) return folder;
    if (length < resolved.size()) break;
    resolved.resize(length + 1);
  }
  resolved.resize(length);
  // The "\\?\" and "\\?\UNC\" forms the call gives, back to the usual spelling.
  if (resolved.starts_with(L"\\\\?\\UNC\\")) return L"\\\\" + resolved.substr(8);
  if (resolved.starts_with(L"\\\\?\\")) return resolved.substr(4);
  return resolved;
}

InstanceLock AcquireInstanceLock(const std::filesystem::path& storeRoot,
                                 std::uint32_t waitMilliseconds) {
  // The store needn't exist yet; the installation folder above it does.
  const std::filesystem::path resolved =
      ResolvedFolder(storeRoot.parent_path()) / storeRoot.filename();
  KernelHandle mutex(CreateMutexW(nullptr, FALSE, InstanceLockName(resolved.wstring()).c_str()));
  if (!mutex) {
    throw Failure{Format(L"The launcher's lock couldn't be made: error {}", GetLastError())};
  }
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
