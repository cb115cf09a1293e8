// Win32 implementation of RcloneProgram: CreateProcessW is given a full path, so rclone.exe is
// looked up on the PATH here.

#include <cwchar>
#include <vector>

#include "launcher/platform/windows.h"
#include "tools/publish/server/remote.h"

namespace launcher::publish {

std::filesystem::path RcloneProgram() {
  const wchar_t* named = _wgetenv(L"QUELLORN_RCLONE");
  if (named != nullptr && *named != L'\0') return named;
  std::vector<wchar_t> found(32768);
  const DWORD length = SearchPathW(nullptr, L"rclone.exe", nullptr,
                                   static_cast<DWORD>(found.size()), found.data(), nullptr);
  if (length == 0 || length >= found.size()) return L"rclone.exe";
  return std::filesystem::path(found.data());
}

}  // namespace launcher::publish
