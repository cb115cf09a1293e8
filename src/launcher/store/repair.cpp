// ClientStore's repair of an installed version: finding the files that no longer hold what they
// should, and fetching them again in place.

#include <numeric>
#include <system_error>

#include "launcher/platform/folders.h"
#include "launcher/platform/locked_files.h"
#include "launcher/store/client_store.h"
#include "launcher/store/download_pool.h"
#include "launcher/store/kept_files.h"
#include "launcher/store/version_record.h"
#include "launcher/text/log.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/text.h"

namespace launcher {

Inspection ClientStore::InspectByRecord(const std::wstring& version) const {
  const std::filesystem::path folder = root / PathFromWide(version);
  Inspection inspection;
  // The common start: not a name changed in any folder, so every file is where it was.
  if (FoldersUnchanged(RecordOf(root, version), folder)) return inspection;
  for (RecordedFile& recorded : ReadRecord(RecordOf(root, version))) {
    const std::optional<FileStamp> stamp = StampOf(PlaceOf(folder, recorded.listed.path), false);
    if (!stamp || !stamp->SameTimes(recorded.stamp)) inspection.damaged.push_back(recorded.listed);
    inspection.listed.push_back(std::move(recorded.listed));
  }
  return inspection;
}

Inspection ClientStore::InspectByHashing(const std::wstring& version, std::vector<Listed> listed,
                                         const InstallProgress& progress) const {
  const std::filesystem::path folder = root / PathFromWide(version);
  std::uint64_t total = 0;
  for (const Listed& entry : listed) total += entry.size;
  Inspection inspection{std::move(listed), {}};
  std::uint64_t done = 0;
  progress(Stage::Checking, done, total);
  for (const Listed& entry : inspection.listed) {
    if (!HoldsExactly(SafeJoin(folder, Widen(entry.path)), entry.size, entry.sha256)) {
      inspection.damaged.push_back(entry);
    }
    done += entry.size;
    progress(Stage::Checking, done, total);
  }
  return inspection;
}

void ClientStore::Repair(const std::wstring& version, const std::wstring& base,
                         const Inspection& inspection, const InstallProgress& progress) const {
  const std::filesystem::path folder = root / PathFromWide(version);
  const std::filesystem::path parts = root / PathFromWide(version + L".parts");
  MakeOwnFolder(parts);
  for (const Listed& entry : inspection.damaged) {
    std::filesystem::create_directories(SafeJoin(folder, Widen(entry.path)).parent_path());
  }
  std::vector<std::size_t> all(inspection.damaged.size());
  std::iota(all.begin(), all.end(), std::size_t{0});
  RunDownloadPool(all, inspection.damaged, folder, parts, base, progress);
  RemoveTree(parts, std::chrono::steady_clock::now() + kLockedFilesWait);
  const std::filesystem::path record = RecordOf(root, version);
  if (!WriteRecord(record, folder, inspection.listed)) {
    // The old record would call every repaired file damaged at each start.
    std::error_code ignored;
    std::filesystem::remove(record, ignored);
    LogLine(L"The repaired version's record couldn't be written: its files will be hashed");
  }
}

}  // namespace launcher
