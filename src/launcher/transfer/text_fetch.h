#pragma once
// Small documents (the update feed, a release's file list) fetched whole into memory.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace launcher {

inline constexpr std::uint64_t kFeedLimit = 1048576;
inline constexpr std::uint64_t kFileListLimit = 67108864;

// The body's bytes exactly as received, within the process's time for small documents (60 s in
// all). A body of more than `limit` bytes throws Failure("The update server answered with far
// too much") at the block that crosses the limit, and the rest isn't read. `noCache` asks caches
// on the way for the origin's copy (the feed is always fetched so). Otherwise throws what HttpGet
// throws.
std::string GetText(const std::wstring& url, std::uint64_t limit, bool noCache = false);

// The same held in blocks of kTextBlockSize, each allocated once at that size: a large
// document takes its own size in memory, never the twice that a string doubling as it grows
// would hold.
inline constexpr std::size_t kTextBlockSize = 1048576;
std::vector<std::string> GetTextInBlocks(const std::wstring& url, std::uint64_t limit);

}  // namespace launcher
