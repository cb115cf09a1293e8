// Win32 implementation of FlushToDisk: FlushFileBuffers on every file and folder below the
// folder, the files that tar wrote included. StartWritingToDisk has nothing to do: Windows' cache
// writes dirty pages out within a second or so of their writing, and opening a file that tar.exe
// may still hold could make tar fail.

#include "launcher/platform/disk_writes.h"

#include <system_error>

#include "launcher/platform/handles_win32.h"

namespace launcher {

namespace {

bool Flush(const std::filesystem::path& path, bool folder) {
  // Shared with everyone: another program's look at a file (an antivirus, say) mustn't fail this.
  const FileHandle handle(CreateFileW(
      path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, folder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL, nullptr));
  // A folder may refuse to be opened for writing on some file systems; its entries are
  // flushed with their files' metadata there.
  if (!handle) return folder;
  return FlushFileBuffers(handle.Get()) || folder;
}

}  // namespace

bool FlushToDisk(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::recursive_directory_iterator entry(folder, error);
  for (; !error && entry != std::filesystem::recursive_directory_iterator();
       entry.increment(error)) {
    if (!Flush(entry->path(), entry->is_directory(error))) return false;
  }
  return !error && Flush(folder, true);
}

void StartWritingToDisk(const std::filesystem::path& /*file*/) {}

}  // namespace launcher
