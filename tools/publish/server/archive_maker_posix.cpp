// POSIX implementation of MakeArchive: GNU tar with fixed owner and time, names read verbatim
// from a NUL-separated list, writing to a pipe, and pigz (on every core) where it is installed or
// else gzip, without a name or time stamp of its own. A large archive is compressed as tar writes
// it when a sample of its files compresses; a small one is compressed whole afterwards and kept
// so only when that saves enough.

#include "tools/publish/server/archive_maker.h"

#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "launcher/platform/run_program.h"
#include "launcher/text/failure.h"

namespace launcher::publish {
namespace {

// Reads a running tar's output to its end, writing it to `plain` (when given) and giving it to
// `tap` and to `packing` (when given). Whether all of it was written and taken.
bool TakeTarOutput(TappedProgram& tar, const std::filesystem::path& plain, const ArchiveTap& tap,
                   FedProgram* packing) {
  std::ofstream out;
  if (!plain.empty()) out.open(plain, std::ios::binary);
  std::vector<char> block(1 << 20);
  bool fed = true;
  while (const std::size_t count = tar.Read(block.data(), block.size())) {
    if (!plain.empty()) out.write(block.data(), static_cast<std::streamsize>(count));
    tap(block.data(), count);
    if (packing != nullptr && fed) fed = packing->Feed(block.data(), count);
  }
  out.close();
  return fed && (plain.empty() || out.good());
}

}  // namespace

bool MakeArchive(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& archive, const ArchiveTap& tap) {
  // Absolute: tar's --directory changes the folder in which it resolves what follows.
  const std::filesystem::path list = std::filesystem::absolute(archive.string() + ".names");
  const std::filesystem::path plain = std::filesystem::absolute(archive.string() + ".tar");
  const std::filesystem::path packed = plain.string() + ".gz";
  const std::filesystem::path sample = plain.string() + ".sample";
  const Leftovers leftovers{{list, plain, packed, sample, sample.string() + ".gz"}};
  WriteNameList(names, list);
  // pigz's output doesn't depend on how many cores it used: the same build, the same bytes.
  std::string gzip = "pigz";
  const auto compressFile = [&](const std::filesystem::path& file) {
    const std::vector<ProgramWord> words = {"--no-name", "--force", "--keep", file.string()};
    std::optional<int> packedBy = RunToEnd(gzip, words);
    if (!packedBy) packedBy = RunToEnd(gzip = "gzip", words);
    return packedBy == 0;
  };
  std::error_code error;
  // Compressing a gigabyte of game data that is compressed already, only to throw the result
  // away, would cost more than all the rest of publishing.
  const bool sampled = WriteSample(build, names, sample);
  bool made = !sampled || compressFile(sample);
  bool compressed = made && (!sampled || WorthCompressing(sample.string() + ".gz", sample, error));

  // Every entry owned by 0:0, dated 2000-01-01, in the given order: the bytes depend on the
  // files' contents, names and modes only.
  TappedProgram tar(
      "tar", {"--create", "--format=gnu", "--owner=0", "--group=0", "--numeric-owner",
              "--mtime=@946684800", "--no-recursion", "--null", "--verbatim-files-from", "--file=-",
              "--directory=" + std::filesystem::absolute(build).string(),
              "--files-from=" + list.string()});
  // A large archive worth compressing is compressed as tar writes it, on the cores tar leaves;
  // the sample was its judge.
  const bool streamed = made && sampled && compressed;
  std::optional<FedProgram> packing;
  if (streamed) packing.emplace(gzip, std::vector<ProgramWord>{"--no-name", "--stdout"}, packed);
  made = TakeTarOutput(tar, streamed ? std::filesystem::path() : plain, tap,
                       packing ? &*packing : nullptr) &&
         tar.Finish() == 0 && made;
  if (packing) made = packing->Finish() == 0 && made;
  if (made && compressed && !sampled) {
    made = compressFile(plain);
    compressed = made && WorthCompressing(packed, plain, error);
  }
  if (made && !error) std::filesystem::rename(compressed ? packed : plain, archive, error);
  if (!made || error) {
    std::filesystem::remove(archive, error);
    throw Failure{L"The archive couldn't be made: the system's tar or gzip is missing or failed"};
  }
  return compressed;
}

}  // namespace launcher::publish
