#pragma once
// A changed large file built from the installed one: every chunk the installed file still holds is
// copied from it, and only the others are fetched, by Range requests on the whole file's blob (or
// on the frames of its packed blob, each decoded and checked), neighbours together, a few
// requests at a time. Any failure of this way (a server that ignores ranges, a chunk that isn't
// what the index says, an installed file that changes meanwhile) leaves nothing behind, and the
// caller downloads the whole file instead; so does an installed file that holds none of the
// chunks, as one request that can resume is then the better way.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "launcher/feed/chunk_index.h"

namespace launcher {

struct ChunkTally {
  std::uint64_t taken = 0;    // bytes copied from the installed file
  std::uint64_t fetched = 0;  // bytes downloaded
};

// Missing chunks fetched at once, each on a connection of its own.
inline constexpr std::size_t kChunkFetchers = 4;

// Where the chunks come from: the raw blob, or the packed one made of one frame per chunk.
struct ChunkBlob {
  std::wstring url;
  const std::vector<std::uint64_t>* frames = nullptr;  // the frames' sizes; none: the raw blob
};

// The installed file a changed one is built from, and the chunks its record vouches for (empty:
// it is cut again to find them).
struct ChunkSource {
  const std::filesystem::path& file;
  const std::vector<Chunk>& recorded;
};

// Builds `wanted` at `destination` through the work file `work`, from `installed` (cut into its
// chunks first when none are recorded) and `blob`: kept chunks are copied by the system and each
// checked against the index where it landed, fetched ones as they arrive. True once every chunk
// (and so the whole file) is the index's. `onPlaced` gets the running tally of
// this file after each chunk placed; whatever it throws passes through, with nothing left behind.
[[nodiscard]] bool FetchByChunks(const ChunkedFile& wanted, const ChunkSource& installed,
                                 const ChunkBlob& blob, const std::filesystem::path& work,
                                 const std::filesystem::path& destination, ChunkTally& tally,
                                 const std::function<void(const ChunkTally&)>& onPlaced);

}  // namespace launcher
