#pragma once
// How an update chooses between the release's archive and its files one by one. Shared with the
// publishing tool, whose plan of each update must choose as the launcher will. Pure logic.

#include <cstdint>

#include "launcher/text/saturating.h"

namespace launcher {

// Each file fetched singly costs about this much beyond its bytes.
inline constexpr std::uint64_t kPerFileOverhead = 65536;

// What fetching a file of `size` bytes singly is estimated at. A large file that the installed
// version holds at the same path and the chunk index names is estimated at the overhead alone:
// how many of its chunks are held is known only once it has been read, and a patch changes little
// of such a file.
inline std::uint64_t UpdateCostOf(std::uint64_t size, bool byChunks) {
  return byChunks ? kPerFileOverhead : SaturatingAdd(size, kPerFileOverhead);
}

// Whether the archive of `archiveSize` bytes is the cheaper way when fetching the missing files
// singly is estimated at `fetchEstimate` (their sizes plus kPerFileOverhead each): files one by
// one only when they come to under 60 % of the archive. estimate * 10 >= size * 6, that is
// estimate / 3 >= size / 5, compared by quotients and then remainders so that no product can
// overflow.
inline bool ArchiveIsCheaper(std::uint64_t fetchEstimate, std::uint64_t archiveSize) {
  const std::uint64_t estimateThirds = fetchEstimate / 3;
  const std::uint64_t sizeFifths = archiveSize / 5;
  return estimateThirds > sizeFifths ||
         (estimateThirds == sizeFifths && (fetchEstimate % 3) * 5 >= (archiveSize % 5) * 3);
}

}  // namespace launcher
