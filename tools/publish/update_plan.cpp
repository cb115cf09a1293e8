#include "tools/publish/update_plan.h"

#include <algorithm>

#include "launcher/store/update_cost.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/read_file.h"
#include "launcher/text/saturating.h"
#include "launcher/text/text.h"
#include "tools/publish/channels.h"

namespace launcher::publish {
namespace {

using Content = std::pair<Digest, std::uint64_t>;

UpdatePlan PlanFrom(const std::wstring& from, std::vector<Content> held,
                    const std::vector<Listed>& listed, std::uint64_t listBytes,
                    std::uint64_t archiveSize) {
  std::sort(held.begin(), held.end());
  UpdatePlan plan;
  plan.from = from;
  std::uint64_t keptTotal = 0;
  std::uint64_t fetchEstimate = 0;
  std::vector<const Listed*> missing;
  for (const Listed& entry : listed) {
    if (std::binary_search(held.begin(), held.end(), Content{entry.sha256, entry.size})) {
      keptTotal = SaturatingAdd(keptTotal, entry.size);
    } else {
      fetchEstimate = SaturatingAdd(fetchEstimate, SaturatingAdd(entry.size, kPerFileOverhead));
      missing.push_back(&entry);
    }
  }
  plan.byArchive = keptTotal == 0 || ArchiveIsCheaper(fetchEstimate, archiveSize);
  if (plan.byArchive) {
    plan.files = listed.size();
    plan.bytes = SaturatingAdd(archiveSize, listBytes);
    return plan;
  }
  // Each content is fetched once, whatever the paths that list it.
  std::sort(missing.begin(), missing.end(),
            [](const Listed* a, const Listed* b) { return a->sha256 < b->sha256; });
  missing.erase(
      std::unique(missing.begin(), missing.end(),
                  [](const Listed* a, const Listed* b) { return a->sha256 == b->sha256; }),
      missing.end());
  std::stable_sort(missing.begin(), missing.end(),
                   [](const Listed* a, const Listed* b) { return a->size > b->size; });
  plan.files = missing.size();
  plan.bytes = listBytes;
  for (const Listed* entry : missing) {
    plan.bytes = SaturatingAdd(plan.bytes, entry->size);
    if (plan.costliest.size() < 3) plan.costliest.emplace_back(entry->path, entry->size);
  }
  return plan;
}

}  // namespace

std::vector<UpdatePlan> PlanUpdates(const std::filesystem::path& server,
                                    const std::wstring& version, const std::vector<Listed>& listed,
                                    std::uint64_t listBytes, std::uint64_t archiveSize) {
  std::vector<UpdatePlan> plans;
  for (const PublishedRelease& release : PublishedReleases(server)) {
    if (release.version == version) continue;
    std::vector<Content> held;
    try {
      for (const Listed& entry :
           ParseFileList(ReadWholeFile(server / PathFromWide(release.list)))) {
        held.emplace_back(entry.sha256, entry.size);
      }
    } catch (const Failure& failure) {
      throw Failure{Format(L"{}: {}", release.list, failure.message)};
    }
    plans.push_back(PlanFrom(release.version, std::move(held), listed, listBytes, archiveSize));
  }
  return plans;
}

}  // namespace launcher::publish
