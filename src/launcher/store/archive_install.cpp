#include "launcher/store/archive_install.h"

#include <system_error>

#include "launcher/platform/folders.h"
#include "launcher/store/archive_stream.h"
#include "launcher/store/writeback_ahead.h"
#include "launcher/transfer/download.h"

namespace launcher {

void InstallFromArchive(const Release& release, const std::wstring& base,
                        const std::filesystem::path& download, const std::filesystem::path& staging,
                        const std::vector<Listed>& listed, const BlockList* blocks,
                        const InstallProgress& progress) {
  std::error_code ignored;
  static_cast<void>(RemoveAll(staging, ignored));
  MakeOwnFolder(staging);
  const std::wstring url = base + release.file;
  const auto downloaded = [&](std::uint64_t held) {
    progress(Stage::Downloading, held, release.size);
  };
  try {
    if (blocks != nullptr) {
      ArchiveStream stream(staging, listed);
      WritebackAhead ahead(staging, listed, release.size);
      DownloadWithRetries(url, release.size, release.sha256, download, downloaded, SleepFor,
                          {[&](std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
                             stream.Add(offset, bytes, count);
                             ahead.Reached(stream.Fed());
                           },
                           blocks});
      progress(Stage::Unpacking, 0, 0);
      stream.Finish();
    } else {
      // Nothing of an archive that can't be checked block by block reaches tar before the whole
      // of it is the release's.
      DownloadWithRetries(url, release.size, release.sha256, download, downloaded, SleepFor);
      progress(Stage::Unpacking, 0, 0);
      UnpackFile(download, staging, listed);
    }
  } catch (...) {
    // What tar made of bytes that aren't (all) the release's goes with them.
    static_cast<void>(RemoveAll(staging, ignored));
    throw;
  }
}

}  // namespace launcher
