// Win32 implementation of the store's folders: the tree is walked by hand, as the standard
// library would follow a junction into its target; a reparse point is removed itself.

#include "launcher/platform/folders.h"

#include <string>

#include "launcher/platform/handles_win32.h"

namespace launcher {

namespace {

bool Failed(std::error_code& error) {
  error.assign(static_cast<int>(GetLastError()), std::system_category());
  return false;
}

bool RemoveChildren(const std::filesystem::path& folder, std::error_code& error) {
  WIN32_FIND_DATAW found{};
  const FindHandle find(FindFirstFileExW((folder / L"*").c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0));
  if (!find) return GetLastError() == ERROR_FILE_NOT_FOUND || Failed(error);
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (!RemoveAll(folder / name, error)) return false;
  } while (FindNextFileW(find.Get(), &found));
  return GetLastError() == ERROR_NO_MORE_FILES || Failed(error);
}

}  // namespace

bool RemoveAll(const std::filesystem::path& path, std::error_code& error) {
  error.clear();
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || Failed(error);
  }
  // A read-only file or folder can't be deleted as it is.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (folder && !link && !RemoveChildren(path, error)) return false;
  // A junction or a folder's symbolic link is a folder to RemoveDirectoryW, which removes the
  // link and nothing it leads to.
  if (!(folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str()))) return Failed(error);
  return true;
}

void MakeOwnFolder(const std::filesystem::path& folder) {
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  const bool folderThere = attributes != INVALID_FILE_ATTRIBUTES &&
                           (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  if (folderThere) return;
  std::error_code error;
  if (attributes != INVALID_FILE_ATTRIBUTES && !RemoveAll(folder, error)) {
    throw std::filesystem::filesystem_error("remove", folder, error);
  }
  if (!CreateDirectoryW(folder.c_str(), nullptr)) {
    throw std::filesystem::filesystem_error(
        "mkdir", folder, std::error_code(static_cast<int>(GetLastError()), std::system_category()));
  }
}

}  // namespace launcher
