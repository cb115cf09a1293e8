#include "tools/publish/reports/update_report.h"

#include <algorithm>

#include "launcher/feed/server_layout.h"
#include "launcher/store/chunk_file.h"
#include "launcher/store/update_plan.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/read_file.h"
#include "launcher/text/saturating.h"
#include "launcher/text/text.h"
#include "launcher/transfer/block_list.h"
#include "tools/publish/server/channels.h"

namespace launcher::publish {
namespace {

UpdateReport ReportFrom(const std::wstring& from, const std::vector<Listed>& had,
                        const NewRelease& next, const std::filesystem::path& server) {
  // A player on `from` with its record: every file known by content and vouched for.
  std::vector<InstalledFile> installed;
  installed.reserve(had.size());
  for (const Listed& entry : had) installed.push_back({entry.path, entry.sha256, entry.size, true});
  const UpdatePlan plan =
      PlanUpdate(installed, next.listed, next.chunks, next.archiveBytes, next.stored);
  UpdateReport report;
  report.from = from;
  report.byArchive = plan.byArchive;
  report.bytes = next.manifestBytes;
  if (plan.byArchive) {
    report.files = next.listed.size();
    report.bytes = SaturatingAdd(report.bytes, next.archiveBytes);
    return report;
  }
  const std::vector<std::optional<std::uint64_t>> downloads = PlannedDownloads(
      plan, installed, next.listed, next.chunks,
      [&](const ChunkedFile& wanted, const InstalledFile& old) {
        const std::optional<ChunkedFile> held =
            ChunkFile(server / PathFromWide(layout::BlobName(*old.sha256)), wanted.path);
        const StoredContent* forms = FindStored(next.stored, wanted.sha256);
        return MissingChunkBytes(wanted, held ? *held : ChunkedFile{},
                                 forms != nullptr ? forms->frames : std::vector<std::uint64_t>());
      },
      next.stored);
  std::vector<std::pair<std::string, std::uint64_t>> costs;
  for (std::size_t i = 0; i < downloads.size(); ++i) {
    if (downloads[i]) costs.emplace_back(next.listed[i].path, *downloads[i]);
  }
  std::stable_sort(costs.begin(), costs.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  report.files = costs.size();
  for (const auto& cost : costs) {
    report.bytes = SaturatingAdd(report.bytes, cost.second);
    if (report.costliest.size() < 3) report.costliest.push_back(cost);
  }
  return report;
}

}  // namespace

std::vector<UpdateReport> ReportUpdates(const std::filesystem::path& server,
                                        const NewRelease& next) {
  // A new player takes the archive, checked by its block list, and the manifest.
  const std::uint64_t blocks = (next.archiveBytes + kArchiveBlockSize - 1) / kArchiveBlockSize;
  const std::uint64_t blockList =
      FormatBlockList({kArchiveBlockSize, std::vector<Digest>(blocks)}).size();
  std::vector<UpdateReport> reports = {{L"",
                                        false,
                                        true,
                                        next.listed.size(),
                                        next.archiveBytes + blockList + next.manifestBytes,
                                        {}}};
  for (const PublishedRelease& release : PublishedReleases(server)) {
    if (release.version == next.version) continue;
    std::vector<Listed> had;
    try {
      had = ParseFileList(ReadWholeFile(server / PathFromWide(release.list)));
    } catch (const Failure& failure) {
      throw Failure{Format(L"{}: {}", release.list, failure.message)};
    }
    if (had == next.listed) {
      reports.push_back({release.version, true, false, 0, 0, {}});
      continue;
    }
    reports.push_back(ReportFrom(release.version, had, next, server));
  }
  return reports;
}

}  // namespace launcher::publish
