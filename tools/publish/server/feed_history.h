#pragma once
// What the channels' feeds named, and when: a line for every feed the tool writes, kept in the
// server folder's ".feed-history.txt" (served and uploaded nowhere). A player who read a feed an
// hour ago may still be fetching what it named, so pruning keeps all that for a grace period
// whatever the feeds name now.

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include "launcher/feed/feed.h"

namespace launcher::publish {

// Appends what `feed`, written as `feedName` at `now`, names: its release, a rollout's release and
// its launcher installer. Throws Failure when the history can't be written.
void RecordFeed(const std::filesystem::path& server, const std::wstring& feedName, const Feed& feed,
                std::chrono::system_clock::time_point now);

// What any feed named at `since` or later, by the history.
struct RecentlyNamed {
  std::set<std::wstring> versions;    // releases
  std::set<std::wstring> installers;  // launcher installers' file names
};
RecentlyNamed NamedSince(const std::filesystem::path& server,
                         std::chrono::system_clock::time_point since);

}  // namespace launcher::publish
