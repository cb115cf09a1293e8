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
#include "launcher/store/download_pool.h"
#include "launcher/store/stage.h"
#include "launcher/store/version_record.h"

namespace launcher {

// The file-by-file part of an update's plan, as staging carries it out.
struct StagingPlan {
  std::vector<KeptFile> kept;  // in the order of the list
  // A changed large file built from the chunks an installed file holds: the entry's place in
  // the list, the installed file, and the chunks its record vouches for (none: it is cut again).
  struct FromChunks {
    std::size_t index = 0;
    std::filesystem::path installed;
    std::vector<Chunk> recorded;
  };
  std::vector<FromChunks> byChunks;  // in the order of the list
  std::uint64_t keptTotal = 0;
  // Whether a vouched-for kept file enters as a hard link; without, it is copied as on a file
  // system that has no links.
  bool linkKept = true;
  // By the entry's place in the list, the forms it may be fetched in; empty when only raw blobs
  // are there.
  std::vector<FetchForms> forms;
  // By the entry's place in the list, how each file came, set as it does; null when nobody asks.
  std::vector<Came>* came = nullptr;
};

// Downloads go through the working folder `parts`. Reports Keeping progress against the plan's
// keptTotal, then Downloading progress: of the large files built by their chunks (the index
// `chunks` names them), then of the pool. Throws Failure (a kept file that can't be copied, any
// download's message) or std::filesystem::filesystem_error.
void StageFileByFile(const std::vector<Listed>& listed, StagingPlan& plan,
                     const std::filesystem::path& staging, const std::filesystem::path& parts,
                     const std::wstring& base, const InstallProgress& progress,
                     const std::vector<ChunkedFile>& chunks = {});

// Just before the switch: a linked file whose stamp has changed since it was vouched for (the
// old version, running, wrote to it) is copied afresh, or fetched when its bytes are no longer
// the listed ones; `came`, when given, says so at its place. Throws as StageFileByFile.
void RestageChangedLinks(const std::vector<Listed>& listed, std::vector<KeptFile>& kept,
                         const std::filesystem::path& staging, const std::filesystem::path& parts,
                         const std::wstring& base, const InstallProgress& progress,
                         std::vector<Came>* came = nullptr);

// Removes every regular file below `staging` that `listed` doesn't name, ignoring ASCII letter
// case. Folders stay.
void SweepStrays(const std::vector<Listed>& listed, const std::filesystem::path& staging);

}  // namespace launcher
