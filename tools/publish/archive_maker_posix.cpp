// POSIX implementation of MakeArchive: GNU tar with fixed owner and time, names read verbatim
// from a NUL-separated list, then gzip without a name or time stamp of its own.

#include <string>
#include <system_error>

#include "launcher/platform/run_program_posix.h"
#include "launcher/text/failure.h"
#include "tools/publish/archive_maker.h"

namespace launcher::publish {

void MakeArchive(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& archive) {
  // Absolute: tar's --directory changes the folder in which it resolves what follows.
  const std::filesystem::path list = std::filesystem::absolute(archive.string() + ".names");
  const std::filesystem::path plain = std::filesystem::absolute(archive.string() + ".tar");
  WriteNameList(names, list);
  // Every entry owned by 0:0, dated 2000-01-01, in the given order: the bytes depend on the
  // files' contents, names and modes only.
  const bool made =
      RunToEnd({"tar", "--create", "--format=gnu", "--owner=0", "--group=0", "--numeric-owner",
                "--mtime=@946684800", "--no-recursion", "--null", "--verbatim-files-from",
                "--file=" + plain.string(),
                "--directory=" + std::filesystem::absolute(build).string(),
                "--files-from=" + list.string()}) == 0 &&
      RunToEnd({"gzip", "--no-name", "--stdout", plain.string()}, archive.string()) == 0;
  std::error_code ignored;
  std::filesystem::remove(list, ignored);
  std::filesystem::remove(plain, ignored);
  if (!made) {
    std::filesystem::remove(archive, ignored);
    throw Failure{L"The archive couldn't be made: the system's tar or gzip is missing or failed"};
  }
}

}  // namespace launcher::publish
