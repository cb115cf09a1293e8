#include "launcher/store/archive_install.h"

#include <optional>
#include <system_error>

#include "launcher/platform/links.h"
#include "launcher/store/streamed_unpack.h"
#include "launcher/store/unpack.h"
#include "launcher/store/writeback_ahead.h"
#include "launcher/text/failure.h"
#include "launcher/text/log.h"
#include "launcher/transfer/download.h"

namespace launcher {

void InstallFromArchive(const Release& release, const std::wstring& base,
                        const std::filesystem::path& download, const std::filesystem::path& staging,
                        const std::vector<Listed>& listed, const InstallProgress& progress) {
  std::error_code ignored;
  std::filesystem::remove_all(staging, ignored);
  std::filesystem::create_directories(staging);
  // Unpacked while it arrives; what tar made becomes the release only with the digest checked.
  std::optional<StreamedUnpack> stream{std::in_place, staging};
  std::optional<WritebackAhead> ahead{std::in_place, staging, listed, release.size};
  try {
    DownloadWithRetries(
        base + release.file, release.size, release.sha256, download,
        [&](std::uint64_t held) { progress(Stage::Downloading, held, release.size); }, SleepFor,
        [&](std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
          stream->Add(offset, bytes, count);
          ahead->Reached(stream->Fed());
        });
  } catch (...) {
    // What tar made of bytes that aren't (all) the release's goes with them.
    ahead.reset();
    stream.reset();
    std::filesystem::remove_all(staging, ignored);
    throw;
  }
  progress(Stage::Unpacking, 0, 0);
  const bool streamed = stream->Finish(release.size);
  ahead.reset();
  if (!streamed) {
    // Resumed, started over, or tar failed on the stream: from the file, as tar finds it.
    LogLine(L"The archive is unpacked from its file: it didn't reach tar in one piece");
    stream.reset();
    std::filesystem::remove_all(staging, ignored);
    std::filesystem::create_directories(staging);
    Unpack(download, staging);
  }
  // A release is plain files and folders. A link left by tar could point anywhere, and the game
  // folder must never reach outside the store.
  if (HoldsLinks(staging)) {
    std::filesystem::remove_all(staging, ignored);
    throw Failure{L"The release couldn't be unpacked"};
  }
}

}  // namespace launcher
