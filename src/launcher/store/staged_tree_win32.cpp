// Win32 implementation of FlushToDisk: FlushFileBuffers on every file and folder below the
// folder, the files that tar wrote included. StartWritingToDisk has nothing to do: Windows' cache
// writes dirty pages out within a second or so of their writing, and opening a file that tar.exe
// may still hold could make tar fail.

#include "launcher/store/staged_tree.h"

#include <system_error>

#include "launcher/platform/handles_win32.h"
#include "launcher/text/failure.h"

namespace launcher {

namespace {

[[noreturn]] void NotWritten() {
  throw Failure{L"The new version couldn't be written to the disk"};
}

void Flush(const std::filesystem::path& path, bool folder) {
  // Shared with everyone: another program's look at a file (an antivirus, say) mustn't fail this.
  const FileHandle handle(CreateFileW(
      path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, folder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) {
    // A folder may refuse to be opened for writing on some file systems; its entries are
    // flushed with their files' metadata there.
    if (folder) return;
    NotWritten();
  }
  if (!FlushFileBuffers(handle.Get()) && !folder) NotWritten();
}

}  // namespace

void FlushToDisk(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::recursive_directory_iterator entry(folder, error);
  if (error) NotWritten();
  for (; entry != std::filesystem::recursive_directory_iterator(); entry.increment(error)) {
    if (error) NotWritten();
    Flush(entry->path(), entry->is_directory(error));
  }
  Flush(folder, true);
}

void StartWritingToDisk(const std::filesystem::path& /*file*/) {}

}  // namespace launcher
