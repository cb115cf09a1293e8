#pragma once
// What an update does to each file of the new release, and what that costs: kept from the
// installed version (linked when its record vouches for it, else copied and hashed on the way),
// built from the chunks the installed file at its path still holds, or fetched whole; or the whole
// release from its archive, when fetching file by file would cost 60 % of it or more. One pure
// function of what is installed, the release's file list and its chunk index: the launcher
// carries the plan out, and the publishing tool reports it to a studio before a release ships,
// so both always choose alike.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "launcher/feed/chunk_index.h"
#include "launcher/feed/file_list.h"
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
};

enum class FileWay : std::uint8_t {
  Fetch,   // downloaded whole
  Copy,    // copied from an installed file, hashed on the way; fetched after all if it differs
  Link,    // the vouched-for installed file itself, hard linked
  Chunks,  // built from the installed file at its path and the chunks it lacks
};

struct PlannedFile {
  FileWay way = FileWay::Fetch;
  std::uint32_t source = 0;  // the installed file it comes from, unless fetched
};

struct UpdatePlan {
  bool byArchive = true;
  std::vector<PlannedFile> files;  // one per listed entry, in the list's order; none by archive
  std::uint64_t keptBytes = 0;     // of the files copied or linked
  // What fetching the rest singly is estimated at: each file's size and the overhead, a file by
  // chunks at the overhead alone (how many of its chunks are held shows only once it is read,
  // and a patch changes little of such a file). The archive is taken against this.
  std::uint64_t estimate = 0;
};

// The plan for bringing `installed` (empty when nothing is) to the release whose list is `listed`
// (empty when it has none usable), whose chunk index is `chunks` and whose archive has
// `archiveSize` bytes. An entry is kept from an installed file of its content (the first one
// vouched for, else the first of them) or, for one whose digest isn't known, from the file at the
// entry's path with the entry's size. A changed file that the index names goes by chunks when an
// installed file lies at its path.
UpdatePlan PlanUpdate(const std::vector<InstalledFile>& installed,
                      const std::vector<Listed>& listed, const std::vector<ChunkedFile>& chunks,
                      std::uint64_t archiveSize);

// What each listed entry downloads when the plan is carried out file by file, the documents
// aside: nothing for a kept file and for a content fetched already for an earlier entry (each is
// fetched once, whatever the paths that list it), the size for a file fetched whole, and for a
// file by chunks what `missingChunkBytes` says it lacks (given the wanted file and the installed
// one it is built from).
std::vector<std::optional<std::uint64_t>> PlannedDownloads(
    const UpdatePlan& plan, const std::vector<InstalledFile>& installed,
    const std::vector<Listed>& listed, const std::vector<ChunkedFile>& chunks,
    const std::function<std::uint64_t(const ChunkedFile&, const InstalledFile&)>&
        missingChunkBytes);

// The bytes of `wanted`'s chunks that `held` (the installed file's chunks) doesn't have.
std::uint64_t MissingChunkBytes(const ChunkedFile& wanted, const ChunkedFile& held);

// Whether the archive of `archiveSize` bytes is the cheaper way when fetching the missing files
// singly is estimated at `estimate`: files one by one only when they come to under 60 % of it.
bool ArchiveIsCheaper(std::uint64_t estimate, std::uint64_t archiveSize);

}  // namespace launcher
