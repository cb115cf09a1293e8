// POSIX implementation of MakeArchive: GNU tar with fixed owner and time, names read verbatim
// from a NUL-separated list, writing to a pipe that this process reads and compresses with zstd
// as tar writes. A large archive is compressed when a sample of its files compresses; a small
// one is kept both ways while it is made, and compressed only when that saves enough.

#include "tools/publish/server/archive_maker.h"

#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "launcher/platform/run_program.h"
#include "launcher/text/failure.h"
#include "tools/publish/server/zstd_pack.h"

namespace launcher::publish {
namespace {

// Reads a running tar's output to its end, writing it to `plain` (when given) and giving it to
// `tap` and to `packer` (when given). Whether all of the plain bytes were written.
bool TakeTarOutput(TappedProgram& tar, const std::filesystem::path& plain, const ArchiveTap& tap,
                   ZstdPacker* packer) {
  std::ofstream out;
  if (!plain.empty()) out.open(plain, std::ios::binary);
  std::vector<char> block(1 << 20);
  while (const std::size_t count = tar.Read(block.data(), block.size())) {
    if (!plain.empty()) out.write(block.data(), static_cast<std::streamsize>(count));
    tap(block.data(), count);
    if (packer != nullptr) packer->Add(block.data(), count);
  }
  out.close();
  return plain.empty() || out.good();
}

}  // namespace

bool MakeArchive(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& archive, const ArchiveTap& tap) {
  // Absolute: tar's --directory changes the folder in which it resolves what follows.
  const std::filesystem::path list = std::filesystem::absolute(archive.string() + ".names");
  const std::filesystem::path plain = std::filesystem::absolute(archive.string() + ".tar");
  const std::filesystem::path packed = plain.string() + ".zst";
  const std::filesystem::path sample = plain.string() + ".sample";
  const Leftovers leftovers{{list, plain, packed, sample, sample.string() + ".zst"}};
  WriteNameList(names, list);
  std::error_code error;
  // Compressing a gigabyte of game data that is compressed already, only to throw the result
  // away, would cost more than all the rest of publishing.
  const bool sampled = WriteSample(build, names, sample);
  bool compressed = !sampled || (PackFile(sample, sample.string() + ".zst") > 0 &&
                                 WorthCompressing(sample.string() + ".zst", sample, error));

  // Every entry owned by 0:0, dated 2000-01-01, in the given order: the bytes depend on the
  // files' contents, names and modes only.
  TappedProgram tar(
      "tar", {"--create", "--format=gnu", "--owner=0", "--group=0", "--numeric-owner",
              "--mtime=@946684800", "--no-recursion", "--null", "--verbatim-files-from", "--file=-",
              "--directory=" + std::filesystem::absolute(build).string(),
              "--files-from=" + list.string()});
  // The plain tar is written unless the sample has chosen compression already.
  const bool keepPlain = !(sampled && compressed);
  std::optional<ZstdPacker> packer;
  if (compressed) packer.emplace(packed, std::nullopt);
  bool made = TakeTarOutput(tar, keepPlain ? plain : std::filesystem::path(), tap,
                            packer ? &*packer : nullptr) &&
              tar.Finish() == 0;
  if (packer) packer->Finish();
  if (made && compressed && keepPlain) compressed = WorthCompressing(packed, plain, error);
  if (made && !error) std::filesystem::rename(compressed ? packed : plain, archive, error);
  if (!made || error) {
    std::filesystem::remove(archive, error);
    throw Failure{L"The archive couldn't be made: the system's tar is missing or failed"};
  }
  return compressed;
}

}  // namespace launcher::publish
