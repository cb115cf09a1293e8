// POSIX implementation of the store's folders: remove_all never follows a symbolic link, and
// lstat tells a folder of this user's from anything else at its name.

#include "launcher/platform/folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace launcher {

bool RemoveAll(const std::filesystem::path& path, std::error_code& error) {
  std::filesystem::remove_all(path, error);
  return !error;
}

void MakeOwnFolder(const std::filesystem::path& folder) {
  struct stat status {};
  if (::lstat(folder.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() &&
        (status.st_mode & (S_IWGRP | S_IWOTH)) == 0) {
      return;
    }
    std::filesystem::remove_all(folder);
  }
  // Whatever the umask: readable by all, written by this user alone.
  if (::mkdir(folder.c_str(), 0700) != 0 || ::chmod(folder.c_str(), 0755) != 0) {
    throw std::filesystem::filesystem_error("mkdir", folder,
                                            std::error_code(errno, std::generic_category()));
  }
}

}  // namespace launcher
