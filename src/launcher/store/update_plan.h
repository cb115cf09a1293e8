#pragma once
// What an update does to each file of the new release, and what that costs: kept from the
// installed version (linked when its record vouches for it, else copied and hashed on the way),
// made by a patch from an installed file the server has one for, built from the chunks the
// installed file at its path still holds, or fetched whole (packed, where the server holds it
// so); or the whole release from its archive, when fetching file by file would cost 60 % of it or
// more. One pure function of what is installed, the release's file list, its chunk index and its
// stored forms: the launcher carries the plan out, and the publishing tool reports it to a studio
// before a release ships, so both always choose alike.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "launcher/feed/chunk_index.h"
#include "launcher/feed/file_list.h"
#include "launcher/feed/manifest.h"
#include "launcher/text/digest.h"

namespace launcher {

// Each file fetched singly costs about this much beyond its bytes.
inline constexpr std::uint64_t kPerFileOverhead = 65536;

// A file of the installed version as a plan sees it.
struct InstalledFile {
  std::string path;              // as the installed version's list spells it
  std::optional<Digest> sha256;  // known from a record or a list; none: only the size is known
  std::uint64_t size = 0;
  bool vouched = false;  // the file system vouches for its bytes: it may be linked, unread
  // A large file's chunks as its record keeps them, while it is vouched for: what it holds of a
  // changed file is then known without reading it. Null when unknown.
  const std::vector<Chunk>* chunks = nullptr;
};

enum class FileWay : std::uint8_t {
  Fetch,   // downloaded whole
  Copy,    // copied from an installed file, hashed on the way; fetched after all if it differs
  Link,    // the vouched-for installed file itself, hard linked
  Chunks,  // built from the installed file at its path and the chunks it lacks
  Patch,   // made from an installed file by a patch; fetched after all if the result differs
};

struct PlannedFile {
  FileWay way = FileWay::Fetch;
  std::uint32_t source = 0;      // the installed file it comes from, unless fetched
  const Patch* patch = nullptr;  // by patch: which one, of the stored forms given to the plan
};

struct UpdatePlan {
  bool byArchive = true;
  std::vector<PlannedFile> files;  // one per listed entry, in the list's order; none by archive
  std::uint64_t keptBytes = 0;     // of the files copied or linked
  // What fetching the rest singly is estimated at: each file's stored size (its patch's, its
  // packed blob's or its own) and the overhead; a file by chunks at the chunks the installed file
  // lacks where its record says which it holds, else at the overhead alone (what it holds shows
  // only once it is read, and a patch changes little of such a file). The archive is taken against
  // this.
  std::uint64_t estimate = 0;
};

// The plan for bringing `installed` (empty when nothing is) to the release whose list is `listed`
// (empty when it has none usable), whose chunk index is `chunks` and whose archive has
// `archiveSize` bytes. An entry is kept from an installed file of its content (the first one
// vouched for, else the first of them) or, for one whose digest isn't known, from the file at the
// entry's path with the entry's size. A changed file goes by the smallest patch `stored` has for
// it from an installed content, else by chunks when the index names it and an installed file lies
// at its path (unless that file's recorded chunks show it holds none of them: fetched whole).
UpdatePlan PlanUpdate(const std::vector<InstalledFile>& installed,
                      const std::vector<Listed>& listed, const std::vector<ChunkedFile>& chunks,
                      std::uint64_t archiveSize, const std::vector<StoredContent>& stored = {});

// What each listed entry downloads when the plan is carried out file by file, the documents
// aside: nothing for a kept file and for a content fetched already for an earlier entry (each is
// fetched once, whatever the paths that list it), the stored size for a file fetched whole or by
// patch, and for a file by chunks what `missingChunkBytes` says it lacks (given the wanted file
// and the installed one it is built from).
std::vector<std::optional<std::uint64_t>> PlannedDownloads(
    const UpdatePlan& plan, const std::vector<InstalledFile>& installed,
    const std::vector<Listed>& listed, const std::vector<ChunkedFile>& chunks,
    const std::function<std::uint64_t(const ChunkedFile&, const InstalledFile&)>& missingChunkBytes,
    const std::vector<StoredContent>& stored = {});

// What fetching `entry` whole takes: its packed blob's size when the server holds one, else its
// own.
std::uint64_t WholeFetchSize(const Listed& entry, const std::vector<StoredContent>& stored);

// The bytes of `wanted`'s chunks that `held` (the installed file's chunks) doesn't have: their
// frames' sizes where `frames` gives them (a packed blob of one frame per chunk), else their own.
std::uint64_t MissingChunkBytes(const ChunkedFile& wanted, const ChunkedFile& held,
                                const std::vector<std::uint64_t>& frames = {});

// What `held` lacks of `wanted`'s chunks, counted as fetched (in the frames `stored` has of
// them), when its record says which chunks it holds; none when only reading it would tell.
std::optional<std::uint64_t> RecordedMissing(const ChunkedFile& wanted, const InstalledFile& held,
                                             const std::vector<StoredContent>& stored);

// Whether the archive of `archiveSize` bytes is the cheaper way when fetching the missing files
// singly is estimated at `estimate`: files one by one only when they come to under 60 % of it.
bool ArchiveIsCheaper(std::uint64_t estimate, std::uint64_t archiveSize);

}  // namespace launcher
