// Puts the test extractor into the system folder when no tar.exe is there (Wine).

#include <filesystem>

#include "launcher/platform/windows.h"
#include "launcher/shell/executable_directory.h"
#include "support/system_tar.h"

namespace launcher::support {

void ProvideSystemTar() {
  wchar_t system[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  const std::filesystem::path tar =
      std::filesystem::path(std::wstring(system, length)) / L"tar.exe";
  std::error_code error;
  if (std::filesystem::exists(tar, error)) return;
  std::filesystem::copy_file(ExecutableDirectory() / L"quellorn-test-tar.exe", tar, error);
}

}  // namespace launcher::support
