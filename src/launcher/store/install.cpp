// ClientStore::Install: choosing the cheaper way to build a version, checking it and switching to
// it atomically.

#include <system_error>

#include "launcher/feed/feed.h"
#include "launcher/store/archive_install.h"
#include "launcher/store/client_store.h"
#include "launcher/store/file_staging.h"
#include "launcher/store/move_into_place.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

// Each file fetched singly costs about this much beyond its bytes.
constexpr std::uint64_t kPerFileOverhead = 65536;

}  // namespace

void ClientStore::Install(const Release& release, const std::wstring& base,
                          const std::vector<Listed>& listed,
                          const InstallProgress& progress) const {
  if (!IsUsableRelease(release))
    throw Failure{L"The update server names a release that can't be kept"};
  std::filesystem::create_directories(root);
  const std::wstring& version = release.version;
  const std::filesystem::path download = root / PathFromWide(version + L".download");
  const std::filesystem::path staging = root / PathFromWide(version + L".partial");
  const std::filesystem::path target = root / PathFromWide(version);
  const std::wstring current = Current();

  // What the current version could give: a file of the listed size. No contents are read yet.
  std::vector<std::filesystem::path> sources(listed.size());
  std::uint64_t keptTotal = 0;
  std::uint64_t fetchEstimate = 0;
  if (!current.empty()) {
    for (std::size_t i = 0; i < listed.size(); ++i) {
      const std::filesystem::path candidate =
          SafeJoin(root / PathFromWide(current), listed[i].path);
      std::error_code error;
      const bool regular =
          std::filesystem::is_regular_file(std::filesystem::status(candidate, error));
      const std::uint64_t size = regular ? std::filesystem::file_size(candidate, error) : 0;
      if (regular && !error && size == listed[i].size) {
        sources[i] = candidate;
        keptTotal += listed[i].size;
      } else {
        fetchEstimate += listed[i].size + kPerFileOverhead;
      }
    }
  }

  // Files one by one only when they are estimated at under 60 % of the archive.
  if (listed.empty() || keptTotal == 0 || fetchEstimate * 10 >= release.size * 6) {
    InstallFromArchive(release, base, download, staging, progress);
  } else {
    StageFileByFile(listed, sources, keptTotal, staging, release, base, progress);
  }

  if (!std::filesystem::exists(staging / "Quellorn.exe")) {
    std::error_code ignored;
    std::filesystem::remove_all(staging, ignored);
    throw Failure{Format(L"The release holds no {}", L"Quellorn.exe")};
  }
  std::error_code ignored;
  std::filesystem::remove_all(target, ignored);  // an earlier, non-current folder of this version
  MoveIntoPlace(staging, target);
  std::filesystem::remove(download, ignored);
  NameCurrent(version);
}

}  // namespace launcher
