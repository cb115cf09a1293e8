// POSIX implementation of MakeArchive: GNU tar with fixed owner and time, names read verbatim
// from a NUL-separated list, then pigz (on every core) where it is installed or else gzip, without
// a name or time stamp of its own, kept only when it saves enough: judged on a sample first, and
// on the whole archive only when the sample compresses.

#include "tools/publish/archive_maker.h"

#include <string>
#include <system_error>

#include "launcher/platform/run_program.h"
#include "launcher/text/failure.h"

namespace launcher::publish {

bool MakeArchive(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& archive) {
  // Absolute: tar's --directory changes the folder in which it resolves what follows.
  const std::filesystem::path list = std::filesystem::absolute(archive.string() + ".names");
  const std::filesystem::path plain = std::filesystem::absolute(archive.string() + ".tar");
  const std::filesystem::path packed = plain.string() + ".gz";
  const std::filesystem::path sample = plain.string() + ".sample";
  WriteNameList(names, list);
  // Every entry owned by 0:0, dated 2000-01-01, in the given order: the bytes depend on the
  // files' contents, names and modes only.
  bool made = RunToEnd("tar", {"--create", "--format=gnu", "--owner=0", "--group=0",
                               "--numeric-owner", "--mtime=@946684800", "--no-recursion", "--null",
                               "--verbatim-files-from", "--file=" + plain.string(),
                               "--directory=" + std::filesystem::absolute(build).string(),
                               "--files-from=" + list.string()}) == 0;
  // pigz's output doesn't depend on how many cores it used: the same build, the same bytes.
  const auto gzip = [](const std::filesystem::path& file) {
    const std::vector<ProgramWord> words = {"--no-name", "--force", "--keep", file.string()};
    std::optional<int> packedBy = RunToEnd("pigz", words);
    if (!packedBy) packedBy = RunToEnd("gzip", words);
    return packedBy == 0;
  };
  std::error_code error;
  // Compressing a gigabyte of game data that is compressed already, only to throw the result
  // away, would cost more than all the rest of publishing.
  bool compressed = made;
  if (made && WriteSample(plain, sample)) {
    made = gzip(sample);
    compressed = made && WorthCompressing(sample.string() + ".gz", sample, error);
  }
  if (made && compressed) {
    made = gzip(plain);
    compressed = made && WorthCompressing(packed, plain, error);
  }
  if (made && !error) std::filesystem::rename(compressed ? packed : plain, archive, error);
  made = made && !error;
  std::filesystem::remove(list, error);
  std::filesystem::remove(plain, error);
  std::filesystem::remove(packed, error);
  std::filesystem::remove(sample, error);
  std::filesystem::remove(sample.string() + ".gz", error);
  if (!made) {
    std::filesystem::remove(archive, error);
    throw Failure{L"The archive couldn't be made: the system's tar or gzip is missing or failed"};
  }
  return compressed;
}

}  // namespace launcher::publish
