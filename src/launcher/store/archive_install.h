#pragma once
// The archive path of an install: the release's one archive downloaded (resumably) into the store
// and unpacked with the system's tar into a fresh staging folder, as it arrives; a download that
// resumed is unpacked from its file once complete.

#include <filesystem>
#include <string>
#include <vector>

#include "launcher/feed/file_list.h"
#include "launcher/feed/release.h"
#include "launcher/store/stage.h"

namespace launcher {

// Empties `staging`, downloads base + release.file to `download` (Downloading reports with
// release.size as the total, then one Unpacking report) and unpacks the archive into `staging`.
// `listed`, the release's file list (may be empty), lets the files tar has finished start on
// their way to the disk while the rest arrives.
// On return the download's digest has matched and tar has ended well. A tree that holds a
// link of any kind is removed and refused with Failure "The release couldn't be unpacked".
void InstallFromArchive(const Release& release, const std::wstring& base,
                        const std::filesystem::path& download, const std::filesystem::path& staging,
                        const std::vector<Listed>& listed, const InstallProgress& progress);

}  // namespace launcher
