#include "launcher/shell/executable_directory.h"

namespace launcher {

std::wstring ParentDirectory(const std::wstring& filePath) {
  const size_t last = filePath.find_last_of(L"\\/");
  if (last == std::wstring::npos) return {};
  size_t end = filePath.find_last_not_of(L"\\/", last);
  if (end == std::wstring::npos) return filePath.substr(0, 1);    // "/launcher"
  if (filePath[end] == L':') return filePath.substr(0, end + 2);  // "C:\launcher.exe"
  return filePath.substr(0, end + 1);
}

}  // namespace launcher
