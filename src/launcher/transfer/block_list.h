#pragma once
// The block list of a download, a release archive's: the SHA-256 of each of its fixed-size blocks,
// in order, the last one shorter. The signed feed names the list by its digest, so every block of
// the archive can be checked as it arrives, and only checked blocks reach tar; a block that isn't
// the list's is fetched again alone. Pure logic.

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/text/digest.h"

namespace launcher {

// Blocks of 1 MiB: a wrong one costs one more MiB, and the list about 65 bytes a MiB.
inline constexpr std::uint64_t kArchiveBlockSize = std::uint64_t{1} << 20;

struct BlockList {
  std::uint64_t blockSize = kArchiveBlockSize;
  std::vector<Digest> blocks;

  bool operator==(const BlockList&) const = default;
};

// "quellorn blocks 1 <block size>", then one digest a line; every line ends in a line feed.
std::string FormatBlockList(const BlockList& list);

// Throws Failure("The release's block list isn't one") for anything else, for a block size
// outside 4 KiB to 64 MiB, and for a count of blocks that isn't what `archiveSize` takes.
BlockList ParseBlockList(const std::string& text, std::uint64_t archiveSize);

}  // namespace launcher
