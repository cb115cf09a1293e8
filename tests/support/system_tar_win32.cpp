// Puts the test extractor into the system folder when no tar.exe is there (Wine). Wine's system
// folder outlives the builds, so under Wine an extractor of another build is replaced; a real
// Windows keeps its own tar.

#include <filesystem>

#include "launcher/platform/windows.h"
#include "launcher/shell/executable_directory.h"
#include "support/system_tar.h"
#include "support/temporary_folder.h"

namespace launcher::support {

void ProvideSystemTar() {
  wchar_t system[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  const std::filesystem::path tar =
      std::filesystem::path(std::wstring(system, length)) / L"tar.exe";
  const std::filesystem::path standIn = ExecutableDirectory() / L"quellorn-test-tar.exe";
  const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  std::error_code error;
  if (std::filesystem::exists(tar, error) && (!wine || ReadFile(tar) == ReadFile(standIn))) return;
  std::filesystem::copy_file(standIn, tar, std::filesystem::copy_options::overwrite_existing,
                             error);
}

}  // namespace launcher::support
