// POSIX implementation of StampOf and FolderStampOf: one lstat gives everything.

#include "launcher/platform/file_stamp.h"

#include <sys/stat.h>

namespace launcher {

std::optional<FileStamp> StampOf(const std::filesystem::path& file, bool /*identity*/) {
  struct stat status {};
  if (::lstat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return FileStamp{
      static_cast<std::uint64_t>(status.st_size),
      static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec,
      static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
      static_cast<std::uint64_t>(status.st_nlink)};
}

std::optional<std::int64_t> FolderStampOf(const std::filesystem::path& folder) {
  struct stat status {};
  if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return std::nullopt;
  return static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
}

}  // namespace launcher
