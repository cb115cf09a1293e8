#include "tools/publish/update_plan.h"

#include <algorithm>

#include "launcher/store/chunk_file.h"
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

bool ByPath(const Listed& a, const Listed& b) {
  return a.path < b.path;
}

// The bytes of `wanted`'s chunks that the file the player holds doesn't have, as the launcher
// finds them: the old file cut by the same rule, read from its blob.
std::uint64_t MissingChunkBytes(const ChunkedFile& wanted, const std::filesystem::path& oldBlob) {
  const std::optional<ChunkedFile> old = ChunkFile(oldBlob, wanted.path);
  std::vector<Content> held;
  if (old) {
    for (const Chunk& chunk : old->chunks) held.emplace_back(chunk.sha256, chunk.size);
  }
  std::sort(held.begin(), held.end());
  std::uint64_t missing = 0;
  for (const Chunk& chunk : wanted.chunks) {
    if (!std::binary_search(held.begin(), held.end(), Content{chunk.sha256, chunk.size})) {
      missing = SaturatingAdd(missing, chunk.size);
    }
  }
  return missing;
}

UpdatePlan PlanFrom(const std::wstring& from, std::vector<Listed> had, const NewRelease& next,
                    const std::filesystem::path& server) {
  std::vector<Content> held;
  for (const Listed& entry : had) held.emplace_back(entry.sha256, entry.size);
  std::sort(held.begin(), held.end());
  std::sort(had.begin(), had.end(), ByPath);
  UpdatePlan plan;
  plan.from = from;
  std::uint64_t keptTotal = 0;
  std::uint64_t fetchEstimate = 0;
  std::vector<const Listed*> missing;
  std::vector<std::pair<const ChunkedFile*, const Listed*>> byChunks;  // wanted, and what was had
  for (const Listed& entry : next.listed) {
    if (std::binary_search(held.begin(), held.end(), Content{entry.sha256, entry.size})) {
      keptTotal = SaturatingAdd(keptTotal, entry.size);
      continue;
    }
    const ChunkedFile* chunked = FindChunked(next.chunks, entry);
    const auto old = std::lower_bound(had.begin(), had.end(), entry, ByPath);
    const bool chunkable = chunked != nullptr && old != had.end() && old->path == entry.path;
    fetchEstimate = SaturatingAdd(fetchEstimate, UpdateCostOf(entry.size, chunkable));
    if (chunkable) {
      byChunks.emplace_back(chunked, &*old);
    } else {
      missing.push_back(&entry);
    }
  }
  const std::uint64_t documents = SaturatingAdd(next.listBytes, next.chunkIndexBytes);
  plan.byArchive =
      (keptTotal == 0 && byChunks.empty()) || ArchiveIsCheaper(fetchEstimate, next.archiveBytes);
  if (plan.byArchive) {
    plan.files = next.listed.size();
    plan.bytes = SaturatingAdd(next.archiveBytes, documents);
    return plan;
  }
  // Each content is fetched once, whatever the paths that list it; a chunked file only in part.
  std::sort(missing.begin(), missing.end(),
            [](const Listed* a, const Listed* b) { return a->sha256 < b->sha256; });
  missing.erase(
      std::unique(missing.begin(), missing.end(),
                  [](const Listed* a, const Listed* b) { return a->sha256 == b->sha256; }),
      missing.end());
  std::vector<std::pair<std::string, std::uint64_t>> costs;
  for (const Listed* entry : missing) costs.emplace_back(entry->path, entry->size);
  for (const auto& [wanted, old] : byChunks) {
    const auto blob = server / "files" / PathFromWide(old->sha256.Hex() + L".bin");
    costs.emplace_back(wanted->path, MissingChunkBytes(*wanted, blob));
  }
  std::stable_sort(costs.begin(), costs.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  plan.files = costs.size();
  plan.bytes = documents;
  for (const auto& cost : costs) {
    plan.bytes = SaturatingAdd(plan.bytes, cost.second);
    if (plan.costliest.size() < 3) plan.costliest.push_back(cost);
  }
  return plan;
}

}  // namespace

std::vector<UpdatePlan> PlanUpdates(const std::filesystem::path& server, const NewRelease& next) {
  std::vector<UpdatePlan> plans;
  for (const PublishedRelease& release : PublishedReleases(server)) {
    if (release.version == next.version) continue;
    std::vector<Listed> had;
    try {
      had = ParseFileList(ReadWholeFile(server / PathFromWide(release.list)));
    } catch (const Failure& failure) {
      throw Failure{Format(L"{}: {}", release.list, failure.message)};
    }
    plans.push_back(PlanFrom(release.version, std::move(had), next, server));
  }
  return plans;
}

}  // namespace launcher::publish
