#include "launcher/store/update_plan.h"

#include <algorithm>
#include <set>
#include <tuple>

#include "launcher/text/saturating.h"

namespace launcher {

namespace {

// The installed files by what a listed entry asks of them: those of a known content by it, the
// others by their path; and every file by its path, for the chunks of a changed one.
class InstalledIndex {
 public:
  explicit InstalledIndex(const std::vector<InstalledFile>& installed) : installed_(installed) {
    for (std::uint32_t i = 0; i < installed.size(); ++i) {
      (installed[i].sha256 ? byContent_ : unknown_).push_back(i);
      byPath_.push_back(i);
    }
    std::sort(byContent_.begin(), byContent_.end(), [&](std::uint32_t a, std::uint32_t b) {
      return ContentOf(installed_[a]) < ContentOf(installed_[b]);
    });
    const auto pathOrder = [&](std::uint32_t a, std::uint32_t b) {
      return installed_[a].path < installed_[b].path;
    };
    std::sort(unknown_.begin(), unknown_.end(), pathOrder);
    std::sort(byPath_.begin(), byPath_.end(), pathOrder);
  }

  // The installed file that gives `entry` its bytes: of its content, the first vouched for, else
  // the first; else one of unknown content at its path with its size.
  std::optional<std::uint32_t> KeptFor(const Listed& entry) const {
    if (const auto held = OfContent(entry.sha256, entry.size)) return held;
    const auto there = At(unknown_, entry.path);
    if (there && installed_[*there].size == entry.size) return there;
    return std::nullopt;
  }

  std::optional<std::uint32_t> AtPath(const std::string& path) const { return At(byPath_, path); }

  // An installed file of the content (the first vouched for, else the first); nothing when none.
  std::optional<std::uint32_t> OfContent(const Digest& sha256, std::uint64_t size) const {
    const auto wanted = std::tie(sha256, size);
    auto match = std::lower_bound(
        byContent_.begin(), byContent_.end(), wanted,
        [&](std::uint32_t i, const auto& content) { return ContentOf(installed_[i]) < content; });
    std::optional<std::uint32_t> first;
    for (; match != byContent_.end() && ContentOf(installed_[*match]) == wanted; ++match) {
      if (installed_[*match].vouched) return *match;
      if (!first) first = *match;
    }
    return first;
  }

 private:
  static std::tuple<const Digest&, const std::uint64_t&> ContentOf(const InstalledFile& file) {
    return std::tie(*file.sha256, file.size);
  }

  std::optional<std::uint32_t> At(const std::vector<std::uint32_t>& byPath,
                                  const std::string& path) const {
    const auto found = std::lower_bound(
        byPath.begin(), byPath.end(), path,
        [&](std::uint32_t i, const std::string& wanted) { return installed_[i].path < wanted; });
    if (found == byPath.end() || installed_[*found].path != path) return std::nullopt;
    return *found;
  }

  const std::vector<InstalledFile>& installed_;
  std::vector<std::uint32_t> byContent_;
  std::vector<std::uint32_t> unknown_;
  std::vector<std::uint32_t> byPath_;
};

// The smallest patch of `forms` whose base an installed file holds, with that file.
std::optional<PlannedFile> CheapestPatch(const StoredContent* forms, const InstalledIndex& index) {
  if (forms == nullptr) return std::nullopt;
  std::optional<PlannedFile> best;
  for (const Patch& patch : forms->patches) {
    const auto base = index.OfContent(patch.base, patch.baseSize);
    if (base && (!best || patch.stored.size < best->patch->stored.size)) {
      best = PlannedFile{FileWay::Patch, *base, &patch};
    }
  }
  return best;
}

}  // namespace

std::optional<std::uint64_t> RecordedMissing(const ChunkedFile& wanted, const InstalledFile& held,
                                             const std::vector<StoredContent>& stored) {
  if (held.chunks == nullptr || held.chunks->empty()) return std::nullopt;
  const StoredContent* forms = FindStored(stored, wanted.sha256);
  return MissingChunkBytes(wanted, ChunkedFile{held.path, {}, 0, *held.chunks},
                           forms != nullptr ? forms->frames : std::vector<std::uint64_t>());
}

std::uint64_t WholeFetchSize(const Listed& entry, const std::vector<StoredContent>& stored) {
  const StoredContent* forms = FindStored(stored, entry.sha256);
  return forms != nullptr && forms->packed ? forms->packed->size : entry.size;
}

UpdatePlan PlanUpdate(const std::vector<InstalledFile>& installed,
                      const std::vector<Listed>& listed, const std::vector<ChunkedFile>& chunks,
                      std::uint64_t archiveSize, const std::vector<StoredContent>& stored) {
  UpdatePlan plan;
  if (listed.empty() || installed.empty()) return plan;
  const InstalledIndex index(installed);
  plan.files.reserve(listed.size());
  bool anyFromInstalled = false;
  for (const Listed& entry : listed) {
    if (const auto kept = index.KeptFor(entry)) {
      plan.files.push_back({installed[*kept].vouched ? FileWay::Link : FileWay::Copy, *kept});
      plan.keptBytes = SaturatingAdd(plan.keptBytes, entry.size);
      continue;
    }
    if (const auto patched = CheapestPatch(FindStored(stored, entry.sha256), index)) {
      plan.files.push_back(*patched);
      plan.estimate = SaturatingAdd(plan.estimate,
                                    SaturatingAdd(patched->patch->stored.size, kPerFileOverhead));
      anyFromInstalled = true;
      continue;
    }
    const ChunkedFile* wanted = FindChunked(chunks, entry);
    const auto there = wanted != nullptr ? index.AtPath(entry.path) : std::nullopt;
    const std::optional<std::uint64_t> missing =
        there ? RecordedMissing(*wanted, installed[*there], stored) : std::nullopt;
    if (there && (!missing || *missing < WholeFetchSize(entry, stored))) {
      plan.files.push_back({FileWay::Chunks, *there});
      plan.estimate =
          SaturatingAdd(plan.estimate, SaturatingAdd(missing.value_or(0), kPerFileOverhead));
      anyFromInstalled = true;
    } else {
      plan.files.push_back({FileWay::Fetch, 0});
      plan.estimate = SaturatingAdd(plan.estimate,
                                    SaturatingAdd(WholeFetchSize(entry, stored), kPerFileOverhead));
    }
  }
  plan.byArchive =
      (plan.keptBytes == 0 && !anyFromInstalled) || ArchiveIsCheaper(plan.estimate, archiveSize);
  if (plan.byArchive) plan.files.clear();
  return plan;
}

std::vector<std::optional<std::uint64_t>> PlannedDownloads(
    const UpdatePlan& plan, const std::vector<InstalledFile>& installed,
    const std::vector<Listed>& listed, const std::vector<ChunkedFile>& chunks,
    const std::function<std::uint64_t(const ChunkedFile&, const InstalledFile&)>& missingChunkBytes,
    const std::vector<StoredContent>& stored) {
  std::vector<std::optional<std::uint64_t>> bytes(plan.files.size());
  std::set<Digest> fetched;
  for (std::size_t i = 0; i < plan.files.size(); ++i) {
    const PlannedFile& file = plan.files[i];
    const bool fetches = file.way == FileWay::Fetch || file.way == FileWay::Patch;
    if (fetches && !fetched.insert(listed[i].sha256).second) continue;
    if (file.way == FileWay::Fetch) {
      bytes[i] = WholeFetchSize(listed[i], stored);
    } else if (file.way == FileWay::Patch) {
      bytes[i] = file.patch->stored.size;
    } else if (file.way == FileWay::Chunks) {
      bytes[i] = missingChunkBytes(*FindChunked(chunks, listed[i]), installed[file.source]);
    }
  }
  return bytes;
}

std::uint64_t MissingChunkBytes(const ChunkedFile& wanted, const ChunkedFile& held,
                                const std::vector<std::uint64_t>& frames) {
  std::vector<std::pair<Digest, std::uint64_t>> have;
  have.reserve(held.chunks.size());
  for (const Chunk& chunk : held.chunks) have.emplace_back(chunk.sha256, chunk.size);
  std::sort(have.begin(), have.end());
  std::uint64_t missing = 0;
  const bool framed = frames.size() == wanted.chunks.size();
  for (std::size_t i = 0; i < wanted.chunks.size(); ++i) {
    const Chunk& chunk = wanted.chunks[i];
    if (!std::binary_search(have.begin(), have.end(), std::pair(chunk.sha256, chunk.size))) {
      missing = SaturatingAdd(missing, framed ? frames[i] : chunk.size);
    }
  }
  return missing;
}

bool ArchiveIsCheaper(std::uint64_t estimate, std::uint64_t archiveSize) {
  // estimate * 10 >= size * 6, that is estimate / 3 >= size / 5, compared by quotients and then
  // remainders so that no product can overflow.
  const std::uint64_t estimateThirds = estimate / 3;
  const std::uint64_t sizeFifths = archiveSize / 5;
  return estimateThirds > sizeFifths ||
         (estimateThirds == sizeFifths && (estimate % 3) * 5 >= (archiveSize % 5) * 3);
}

}  // namespace launcher
