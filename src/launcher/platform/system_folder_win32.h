#pragma once
// Windows' system folder, where its own programs (tar.exe) live. Windows only.

#include <filesystem>
#include <iterator>

#include "launcher/platform/windows.h"

namespace launcher {

// As GetSystemDirectoryW gives it into 260 characters; empty if it won't fit.
inline std::filesystem::path SystemFolder() {
  wchar_t system[260] = {};
  const UINT length = GetSystemDirectoryW(system, static_cast<UINT>(std::size(system)));
  return std::wstring(system, length < std::size(system) ? length : 0);
}

}  // namespace launcher
