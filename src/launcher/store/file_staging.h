#pragma once
// The file-by-file path of an install: the staging folder is filled from what an earlier attempt
// left there, from the files of the current version that hold listed contents and, for the rest,
// from the update server; then every file the list doesn't name is swept out. A kept file whose
// record vouches for it enters as a hard link to the current version's file (no bytes read or
// written); any other kept file is copied and hashed on the way.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "launcher/feed/chunk_index.h"
#include "launcher/feed/file_list.h"
#include "launcher/store/stage.h"
#include "launcher/store/version_record.h"

namespace launcher {

// Whether a vouched-for kept file may enter the staging folder as a hard link (yes unless
// turned off); without, it is copied as on a file system that has no links.
bool& LinkKeptFiles();

// Where a changed large file may take its unchanged chunks from: the release's chunk index and
// the current version's folder.
struct ChunkSource {
  const std::vector<ChunkedFile>* index = nullptr;
  std::filesystem::path installed;
};

// `kept` is in the order of the list; downloads go through the working folder `parts`. Reports
// Keeping progress against `keptTotal`, then Downloading progress: of the large files built by
// their chunks (from `chunks`, when it names them and the current version holds them at the same
// path), then of the pool. Throws Failure (a kept file that can't be copied, any download's
// message) or std::filesystem::filesystem_error.
void StageFileByFile(const std::vector<Listed>& listed, std::vector<KeptFile>& kept,
                     std::uint64_t keptTotal, const std::filesystem::path& staging,
                     const std::filesystem::path& parts, const std::wstring& base,
                     const InstallProgress& progress, const ChunkSource& chunks = {});

// Just before the switch: a linked file whose stamp has changed since it was vouched for (the
// old version, running, wrote to it) is copied afresh, or fetched when its bytes are no longer
// the listed ones. Throws as StageFileByFile.
void RestageChangedLinks(const std::vector<Listed>& listed, std::vector<KeptFile>& kept,
                         const std::filesystem::path& staging, const std::filesystem::path& parts,
                         const std::wstring& base, const InstallProgress& progress);

// Removes every regular file below `staging` that `listed` doesn't name, ignoring ASCII letter
// case. Folders stay.
void SweepStrays(const std::vector<Listed>& listed, const std::filesystem::path& staging);

}  // namespace launcher
