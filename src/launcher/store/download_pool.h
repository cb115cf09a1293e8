#pragma once
// The single files of a release that must come from the update server, downloaded up to six at a
// time. Each distinct content is fetched once, into the working folder under its digest, and when
// verified placed at every path of the staging folder that lists it; the first failure stops the
// others and becomes the failure of all. A content comes in the smallest form the plan found for
// it (a patch against an installed file, the packed blob) and, where that form can't be had or
// doesn't make the listed bytes, in the next, the raw blob last.

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "launcher/feed/file_list.h"
#include "launcher/feed/manifest.h"
#include "launcher/store/stage.h"
#include "launcher/text/digest.h"

namespace launcher {

inline constexpr std::size_t kMaxDownloadWorkers = 6;

// The forms a listed content may come in before its raw blob.
struct FetchForms {
  const Patch* patch = nullptr;
  std::filesystem::path reference;  // the installed file the patch applies to
  const StoredForm* packed = nullptr;
  const std::vector<std::uint64_t>* frames = nullptr;  // the packed blob's, one per chunk
};

// Where the pool keeps a content while it arrives: parts / <its digest's first hex digit> /
// (sha256 + ".part"). Spread over sixteen folders, the workers seldom wait for the same folder
// while the file system finds room for a new file.
std::filesystem::path PartFileOf(const std::filesystem::path& parts, const Digest& sha256);

// Downloads listed[k] for every k of `toFetch` (in that order of hand-out) from
// base + "files/" + sha256 + ".bin" into its PartFileOf(parts, sha256), then places it at
// SafeJoin(staging, path); those folders must exist, and `parts` too. A ".part" file already
// there is resumed. `forms[k]`, where `forms` is given, names the smaller forms of listed[k].
// Reports Downloading progress over the distinct contents, one report at a time. Runs on the
// calling thread plus up to maxWorkers - 1 more, all joined before it returns or throws the first
// failure. `came`, when given, is set at each fetched entry's place to the form it came in.
void RunDownloadPool(const std::vector<std::size_t>& toFetch, const std::vector<Listed>& listed,
                     const std::filesystem::path& staging, const std::filesystem::path& parts,
                     const std::wstring& base, const InstallProgress& progress,
                     const std::vector<FetchForms>& forms = {},
                     std::size_t maxWorkers = kMaxDownloadWorkers,
                     std::vector<Came>* came = nullptr);

}  // namespace launcher
