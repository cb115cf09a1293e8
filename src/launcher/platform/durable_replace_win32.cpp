// Win32 implementation of ReplaceFileDurably.

#include "launcher/platform/durable_replace.h"

#include "launcher/platform/handles_win32.h"

namespace launcher {

bool WriteFileDurably(const std::filesystem::path& file, std::string_view bytes) {
  FileHandle handle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return false;
  DWORD written = 0;
  if (!WriteFile(handle.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size() || !FlushFileBuffers(handle.Get())) {
    return false;
  }
  return CloseHandle(handle.Release()) != 0;
}

bool ReplaceFileDurably(const std::filesystem::path& target, const std::filesystem::path& temporary,
                        std::string_view bytes) {
  return WriteFileDurably(temporary, bytes) && MoveDurably(temporary, target);
}

bool MoveDurably(const std::filesystem::path& temporary, const std::filesystem::path& target) {
  // MoveFileExW, not rename: the target exists, and the move must reach the disk before we go on.
  return MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace launcher
