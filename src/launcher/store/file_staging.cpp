#include "launcher/store/file_staging.h"

#include <algorithm>
#include <system_error>

#include "launcher/store/download_pool.h"
#include "launcher/store/kept_files.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/text.h"

namespace launcher {

void StageFileByFile(const std::vector<Listed>& listed,
                     const std::vector<std::filesystem::path>& sources, std::uint64_t keptTotal,
                     const std::filesystem::path& staging, const std::filesystem::path& parts,
                     const std::wstring& base, const InstallProgress& progress) {
  std::filesystem::create_directories(staging);
  std::filesystem::create_directories(parts);
  std::uint64_t keptDone = 0;
  std::vector<std::size_t> toFetch;
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const Listed& entry = listed[i];
    const std::filesystem::path destination = SafeJoin(staging, Widen(entry.path));
    std::filesystem::create_directories(destination.parent_path());
    if (HoldsExactly(destination, entry.size, entry.sha256)) {
      if (!sources[i].empty()) keptDone += entry.size;
      progress(Stage::Keeping, keptDone, keptTotal);
      continue;
    }
    if (sources[i].empty()) {
      toFetch.push_back(i);  // a wrong file there is replaced by the download's final move
      continue;
    }
    const std::uint64_t before = keptDone;
    const Digest digest = CopyHashed(sources[i], destination, [&](unsigned long long count) {
      keptDone += count;
      progress(Stage::Keeping, keptDone, keptTotal);
    });
    if (digest != entry.sha256) {
      // The installed copy differs though its size matched: fetch it, but count it as kept
      // so that the Keeping numbers still add up to keptTotal.
      keptDone = before + entry.size;
      std::error_code ignored;
      std::filesystem::remove(destination, ignored);
      toFetch.push_back(i);
    }
  }
  RunDownloadPool(toFetch, listed, staging, parts, base, progress);
  SweepStrays(listed, staging);
}

void SweepStrays(const std::vector<Listed>& listed, const std::filesystem::path& staging) {
  std::vector<std::wstring> expected;
  expected.reserve(listed.size());
  for (const Listed& entry : listed) {
    expected.push_back(Lowercase(WideFromPath(SafeJoin(staging, Widen(entry.path)))));
  }
  std::sort(expected.begin(), expected.end());

  std::vector<std::filesystem::path> strays;
  std::error_code error;
  std::filesystem::recursive_directory_iterator entry(staging, error);
  if (error) return;
  for (; entry != std::filesystem::recursive_directory_iterator(); ++entry) {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(std::filesystem::status(entry->path(), ignored)))
      continue;
    if (!std::binary_search(expected.begin(), expected.end(),
                            Lowercase(WideFromPath(entry->path())))) {
      strays.push_back(entry->path());
    }
  }
  for (const auto& stray : strays) {
    std::error_code ignored;
    std::filesystem::remove(stray, ignored);
  }
}

}  // namespace launcher
