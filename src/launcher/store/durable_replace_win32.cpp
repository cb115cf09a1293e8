// Win32 implementation of ReplaceFileDurably.

#include "launcher/platform/scoped_handle.h"
#include "launcher/platform/windows.h"
#include "launcher/store/durable_replace.h"

namespace launcher {

namespace {

struct FileTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { CloseHandle(handle); }
};

bool WriteAndFlush(const std::filesystem::path& file, std::string_view bytes) {
  ScopedHandle<FileTraits> handle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return false;
  DWORD written = 0;
  if (!WriteFile(handle.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size() || !FlushFileBuffers(handle.Get())) {
    return false;
  }
  return CloseHandle(handle.Release()) != 0;
}

}  // namespace

bool ReplaceFileDurably(const std::filesystem::path& target, const std::filesystem::path& temporary,
                        std::string_view bytes) {
  if (!WriteAndFlush(temporary, bytes)) return false;
  // MoveFileExW, not rename: the target exists, and the move must reach the disk before we go on.
  return MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace launcher
