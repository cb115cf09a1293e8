// Win32 implementation of StampOf: GetFileAttributesExW for size and time; a handle opened only
// to ask, without following a reparse point, for the volume and file index. FolderStampOf asks
// GetFileAttributesExW alone.

#include "launcher/platform/file_stamp.h"
#include "launcher/platform/handles_win32.h"

namespace launcher {

namespace {

std::uint64_t Joined(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

bool IsPlainFile(DWORD attributes) {
  return (attributes &
          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

}  // namespace

std::optional<FileStamp> StampOf(const std::filesystem::path& file, bool identity) {
  if (!identity) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data) ||
        !IsPlainFile(data.dwFileAttributes)) {
      return std::nullopt;
    }
    return FileStamp{Joined(data.nFileSizeHigh, data.nFileSizeLow),
                     static_cast<std::int64_t>(Joined(data.ftLastWriteTime.dwHighDateTime,
                                                      data.ftLastWriteTime.dwLowDateTime)),
                     0, 0, 0};
  }
  // No access to the contents is asked for, so a file that another program holds open answers.
  const FileHandle handle(CreateFileW(
      file.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  if (!handle || !GetFileInformationByHandle(handle.Get(), &information) ||
      !IsPlainFile(information.dwFileAttributes)) {
    return std::nullopt;
  }
  return FileStamp{Joined(information.nFileSizeHigh, information.nFileSizeLow),
                   static_cast<std::int64_t>(Joined(information.ftLastWriteTime.dwHighDateTime,
                                                    information.ftLastWriteTime.dwLowDateTime)),
                   information.dwVolumeSerialNumber,
                   Joined(information.nFileIndexHigh, information.nFileIndexLow),
                   information.nNumberOfLinks};
}

std::optional<std::int64_t> FolderStampOf(const std::filesystem::path& folder) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(folder.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
          FILE_ATTRIBUTE_DIRECTORY) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(
      Joined(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime));
}

}  // namespace launcher
