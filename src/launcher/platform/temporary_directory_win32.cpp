// Win32 implementation of TemporaryDirectory.

#include "launcher/platform/temporary_directory.h"

#include <string>

#include "launcher/platform/windows.h"

namespace launcher {

std::filesystem::path TemporaryDirectory() {
  std::wstring buffer(261, L'\0');
  DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  // A longer path is read whole rather than cut: the call then says how much room it needs.
  if (length > buffer.size()) {
    buffer.resize(length);
    length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  }
  buffer.resize(length < buffer.size() ? length : 0);
  return buffer;
}

}  // namespace launcher
