#pragma once
// The chunk index of a release: for each large file, the content-defined chunks it is made of, so
// that an update can take from the installed file every chunk it already holds and fetch only
// the rest, by Range requests on the whole file's blob. Boundaries come from a rolling hash over
// the bytes alone, so an insertion moves only the chunks around it. The publishing tool and the
// launcher cut by the same rule. Pure logic; hashing the chunks is the callers'.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/feed/file_list.h"
#include "launcher/text/digest.h"

namespace launcher {

// Files of at least this size are chunked.
inline constexpr std::uint64_t kChunkedFileSize = std::uint64_t{8} << 20;
// No chunk is shorter (but a file's last) or longer; between, a boundary comes about once a MiB.
inline constexpr std::uint64_t kShortestChunk = std::uint64_t{256} << 10;
inline constexpr std::uint64_t kLongestChunk = std::uint64_t{4} << 20;

// Finds the boundaries of a stream of bytes given block by block.
class ChunkCutter {
 public:
  // How many of the `count` bytes belong to the current chunk: all of them (`cut` false), or
  // those up to and including the byte after which the chunk ends (`cut` true). The caller
  // hands the rest in again.
  std::size_t Scan(const unsigned char* bytes, std::size_t count, bool& cut);

 private:
  std::uint64_t hash_ = 0;
  std::uint64_t length_ = 0;  // of the current chunk so far
};

struct Chunk {
  Digest sha256;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;

  bool operator==(const Chunk&) const = default;
};

struct ChunkedFile {
  std::string path;  // as the file list spells it
  Digest sha256;     // of the whole file
  std::uint64_t size = 0;
  std::vector<Chunk> chunks;  // in order, each starting where the one before ends

  bool operator==(const ChunkedFile&) const = default;
};

// The index's file for `entry`: the same path, size and digest; nullptr when it has none.
const ChunkedFile* FindChunked(const std::vector<ChunkedFile>& index, const Listed& entry);

// "quellorn chunks 1", then for each file "digest TAB size TAB path" and one
// "TAB digest TAB size" line per chunk; every line ends in a line feed.
std::string FormatChunkIndex(const std::vector<ChunkedFile>& files);

// Throws Failure("The release's chunk index isn't one") for anything else, or for chunks that
// don't add up to their file's size.
std::vector<ChunkedFile> ParseChunkIndex(const std::string& text);

}  // namespace launcher
