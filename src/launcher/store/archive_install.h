#pragma once
// The archive path of an install: the release's one archive downloaded (resumably) into the store
// and unpacked with the system's tar into a fresh staging folder. With the archive's signed block
// list it is unpacked as it arrives, each block checked before tar sees it; without one, only
// once the whole archive's digest has matched. Either way every entry is looked at before tar
// writes it (ArchiveStream).

#include <filesystem>
#include <string>
#include <vector>

#include "launcher/feed/file_list.h"
#include "launcher/feed/release.h"
#include "launcher/store/stage.h"
#include "launcher/transfer/block_list.h"

namespace launcher {

// Empties `staging`, downloads base + release.file to `download` (Downloading reports with
// release.size as the total, then one Unpacking report) and unpacks the archive into `staging`.
// `listed`, the release's file list (may be empty), says what the archive may hold, and lets the
// files tar has finished start on their way to the disk while the rest arrives. `blocks` is the
// archive's block list, or nullptr. On return tar has ended well with every byte checked;
// on a throw, `staging` is gone.
void InstallFromArchive(const Release& release, const std::wstring& base,
                        const std::filesystem::path& download, const std::filesystem::path& staging,
                        const std::vector<Listed>& listed, const BlockList* blocks,
                        const InstallProgress& progress);

}  // namespace launcher
