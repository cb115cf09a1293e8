#pragma once
// Whether a launcher built with a root may believe what the update server sends, by its roles:
// the timestamp signed by the timestamp role and no older than the one accepted before; the feed
// signed by the release role, of its own channel, named by that timestamp by digest and sequence,
// not expired, and its sequence no lower than the channel's accepted before. Nothing older than
// the build's own floor is believed, whatever the state. Pure logic besides the platform's
// signature check.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "launcher/feed/feed.h"
#include "launcher/trust/signed_roles.h"
#include "launcher/trust/trust_state.h"

namespace launcher {

// What a check needs beside the document's bytes.
struct RootedCheck {
  const Root& root;  // the newest root trusted, unexpired
  const TrustState& state;
  std::chrono::system_clock::time_point now;
  // Nothing that expired before this time is believed, whatever the clock says: the build's
  // floor. The epoch for none.
  std::chrono::system_clock::time_point floor{};
};

// Nothing when the timestamp may be believed, else why not, in words for the log. Its expiry is
// the caller's to judge: an expired timestamp is believed but updates nothing.
std::optional<std::wstring> WhyUntrustedTimestamp(std::string_view text,
                                                  std::string_view signatures,
                                                  const RootedCheck& check);

// Nothing when the feed (ParseFeed of `feedText`) may be believed as `feedName` of `channel`
// ("" for the live feed), as `timestamp` names it.
std::optional<std::wstring> WhyUntrustedFeed(std::string_view feedText, const Feed& feed,
                                             std::string_view signatures,
                                             const Timestamp& timestamp,
                                             const std::wstring& feedName,
                                             const std::wstring& channel, const RootedCheck& check);

// The channel whose feed a file is: "" for "latest.json", "beta" for "latest-beta.json"; nothing
// for another name.
std::optional<std::wstring> ChannelOfFeed(std::wstring_view feedName);

}  // namespace launcher
