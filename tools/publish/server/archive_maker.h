#pragma once
// The release archive, made by the system's tar: zstd-compressed (PackingLevel, the long window,
// every core) when that saves at least 5 %, plain otherwise (game data is mostly compressed
// already). A large archive is judged first by samples of its files, and compressed only when
// they compress. The launcher undoes the compression itself, so neither system's tar needs to
// know zstd. Entries come in the order given, with a fixed owner, so the same files give the
// same bytes.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace launcher::publish {

// Each stretch of the plain (uncompressed) tar's bytes, in order, as tar writes them.
using ArchiveTap = std::function<void(const char* bytes, std::size_t count)>;

// `names` are "/"-separated paths below `build`. `tap` is given every byte of the plain tar.
// Returns whether the archive is zstd-compressed. Throws Failure when tar is missing or fails,
// and what `tap` throws.
bool MakeArchive(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& archive, const ArchiveTap& tap);

// Whether the compressed archive `packed` is worth it over the `plain` one: it saves at least
// 5 %. Sets `error` when either can't be measured.
bool WorthCompressing(const std::filesystem::path& packed, const std::filesystem::path& plain,
                      std::error_code& error);

// For the platforms' makers: a quick look at whether compressing could be worth it, before a whole
// archive is compressed to find out. Writes to `sample` 16 stretches of 256 KiB spread evenly
// through the named files of `build` taken one after the other: the same build, the same
// sample. False (nothing to judge by) for files under 64 MiB in all, which are compressed whole
// at little cost, or when a file can't be read.
bool WriteSample(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& sample);

// For the platforms' makers: gives the bytes of a plain tar that tar has finished to `tap`.
// Whether all of them could be read.
bool TapFile(const std::filesystem::path& plain, const ArchiveTap& tap);

// For the platforms' makers: the names as UTF-8, each ended by a NUL, the form both tars read
// with --null. Throws Failure when the file can't be written.
void WriteNameList(const std::vector<std::wstring>& names, const std::filesystem::path& list);

// For the platforms' makers: what a run leaves beside the archive goes, however it ends.
struct Leftovers {
  std::vector<std::filesystem::path> files;
  ~Leftovers() {
    std::error_code ignored;
    for (const auto& file : files) std::filesystem::remove(file, ignored);
  }
};

using ArchiveMaker =
    std::function<bool(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                       const std::filesystem::path& archive, const ArchiveTap& tap)>;

}  // namespace launcher::publish
