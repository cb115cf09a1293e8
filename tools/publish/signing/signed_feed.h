#pragma once
// Writing the feed, last of everything a publishing run writes, with what signed launchers
// require of it: the product, a sequence one above the published feed's, an expiry, and the
// signature file beside it ("latest.json.sig", one line per key) when keys are given.

#include <chrono>
#include <filesystem>
#include <functional>
#include <limits>
#include <vector>

#include "launcher/feed/feed.h"
#include "tools/publish/server/server_changes.h"
#include "tools/publish/signing/signing.h"

namespace launcher::publish {

inline constexpr int kDefaultValidDays = 30;

struct Signing {
  std::vector<PrivateKey> keys;  // none: no signature file is written
  int validDays = kDefaultValidDays;
  int timestampHours = 24;  // how long the timestamp is valid, when the folder has signed roles
  std::function<std::chrono::system_clock::time_point()> now = std::chrono::system_clock::now;
};

// Writes `feed` to `feedFile` (and its signature file) through `changes`, all in one step; when
// the folder has signed roles, the feed names its channel and the timestamp is signed anew after
// it (which needs a timestamp key among the keys). When it names what `published` names already
// and needs no new signature, nothing is written unless `renew` asks for a new sequence and expiry
// anyway. Refuses to take the sequence past its largest value. Returns the feed that now stands.
Feed PublishFeed(ServerChanges& changes, const std::filesystem::path& feedFile, Feed feed,
                 const Feed& published, const Signing& signing, bool renew = false);

}  // namespace launcher::publish
