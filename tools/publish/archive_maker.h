#pragma once
// The release archive, made by the system's tar: gzip-compressed when that saves at least 5 %,
// plain otherwise (game data is mostly compressed already, and unpacking gzip costs more than
// tar itself). A large archive is judged on samples first, and compressed whole only when they
// compress. Windows' tar and the Linux tar recognise either by themselves when they unpack
// it. Entries come in the order given, with a fixed owner, so the same files give the same bytes.

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace launcher::publish {

// `names` are "/"-separated paths below `build`. Returns whether the archive is gzip-compressed.
// Throws Failure when tar is missing or fails.
bool MakeArchive(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& archive);

// Whether the compressed archive `packed` is worth it over the `plain` one: it saves at least
// 5 %. Sets `error` when either can't be measured.
bool WorthCompressing(const std::filesystem::path& packed, const std::filesystem::path& plain,
                      std::error_code& error);

// For the platforms' makers: a quick look at whether gzip could be worth it, before a whole
// archive is compressed to find out. Writes to `sample` 16 stretches of 256 KiB spread evenly
// through `plain`: the same archive, the same sample. False (nothing to judge by) for an archive
// under 64 MiB, which is compressed whole at little cost.
bool WriteSample(const std::filesystem::path& plain, const std::filesystem::path& sample);

// For the platforms' makers: the names as UTF-8, each ended by a NUL, the form both tars read
// with --null. Throws Failure when the file can't be written.
void WriteNameList(const std::vector<std::wstring>& names, const std::filesystem::path& list);

using ArchiveMaker =
    std::function<bool(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                       const std::filesystem::path& archive)>;

}  // namespace launcher::publish
