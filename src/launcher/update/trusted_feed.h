#pragma once
// The feed as the launcher believes it: fetched, read and, for a launcher built with keys or a
// root, checked. With a root: the chain of roots followed to the newest (the store keeps those it
// has accepted; one request asks for the next), the timestamp checked, then the feed that it
// names for this channel, and what was accepted recorded so that nothing older is believed
// again. With keys only: one signature of the feed by one of them, and its sequence, as before
// roots. Runs on the calling thread; failures only make a feed unbelieved, with the reason in the
// log.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "launcher/feed/feed.h"
#include "launcher/store/client_store.h"
#include "launcher/trust/signature.h"
#include "launcher/trust/signed_roles.h"

namespace launcher {

// What a launcher built with the publisher's keys or root requires of a feed before it believes
// it. Neither keys nor a root: every readable feed is believed.
struct FeedTrust {
  std::vector<PublicKey> keys;
  std::optional<Root> root;  // the first root, built in; it stands above the keys
  std::function<std::chrono::system_clock::time_point()> now = std::chrono::system_clock::now;
  std::chrono::system_clock::time_point floor{};  // nothing expired before it is believed
};

// The trust this build was made with.
FeedTrust BuiltInTrust();

struct FetchedFeed {
  std::optional<Feed> feed;  // when it could be fetched, read and believed
  bool untrusted = false;    // fetched and read, but not believed
  // With a root: the newest timestamp had expired, at this time (UTC text): the updates couldn't
  // be checked since.
  std::wstring staleSince;
  std::optional<Root> root;  // with a root: the newest, which the feed was believed under
};

FetchedFeed FetchFeed(const std::wstring& feedUrl, const ClientStore& store,
                      const FeedTrust& trust);

// The launcher installer that a believed feed names, when it may be run: with a root, its
// document signed by the launcher role; else the feed's own fields. Nothing (with a line in the
// log) when there is none or it can't be believed.
std::optional<Release> TrustedLauncher(const Feed& feed, const FetchedFeed& fetched,
                                       const std::wstring& baseUrl);

}  // namespace launcher
