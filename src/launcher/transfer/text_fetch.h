#pragma once
// Small documents (the update feed, a release's file list) fetched whole into memory.

#include <cstdint>
#include <string>

namespace launcher {

inline constexpr std::uint64_t kFeedLimit = 1048576;
inline constexpr std::uint64_t kFileListLimit = 67108864;

// The body's bytes exactly as received, within the process's time for small documents (60 s in
// all). A body of more than `limit` bytes throws Failure("The update server answered with far
// too much") at the block that crosses the limit, and the rest isn't read. `noCache` asks caches
// on the way for the origin's copy (the feed is always fetched so). Otherwise throws what HttpGet
// throws.
std::string GetText(const std::wstring& url, std::uint64_t limit, bool noCache = false);

}  // namespace launcher
