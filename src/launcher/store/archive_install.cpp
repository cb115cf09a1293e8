#include "launcher/store/archive_install.h"

#include <system_error>

#include "launcher/store/links.h"
#include "launcher/store/unpack.h"
#include "launcher/text/failure.h"
#include "launcher/transfer/download.h"

namespace launcher {

void InstallFromArchive(const Release& release, const std::wstring& base,
                        const std::filesystem::path& download, const std::filesystem::path& staging,
                        const InstallProgress& progress) {
  DownloadWithRetries(
      base + release.file, release.size, release.sha256, download,
      [&](std::uint64_t held) { progress(Stage::Downloading, held, release.size); }, SleepFor);
  std::error_code ignored;
  std::filesystem::remove_all(staging, ignored);
  std::filesystem::create_directories(staging);
  progress(Stage::Unpacking, 0, 0);
  Unpack(download, staging);
  // A release is plain files and folders. A link left by tar could point anywhere, and the game
  // folder must never reach outside the store.
  if (HoldsLinks(staging)) {
    std::filesystem::remove_all(staging, ignored);
    throw Failure{L"The release couldn't be unpacked"};
  }
}

}  // namespace launcher
