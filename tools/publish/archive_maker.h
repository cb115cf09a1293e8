#pragma once
// The release archive, made by the system's tar: gzip-compressed, which Windows' tar and the
// Linux tar both recognise by themselves when they unpack it. Entries come in the order given,
// with a fixed owner, so the same files give the same bytes.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace launcher::publish {

// `names` are "/"-separated paths below `build`. Throws Failure when tar is missing or fails.
void MakeArchive(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& archive);

// For the platforms' makers: the names as UTF-8, each ended by a NUL, the form both tars read
// with --null. Throws Failure when the file can't be written.
void WriteNameList(const std::vector<std::wstring>& names, const std::filesystem::path& list);

using ArchiveMaker =
    std::function<void(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                       const std::filesystem::path& archive)>;

}  // namespace launcher::publish
