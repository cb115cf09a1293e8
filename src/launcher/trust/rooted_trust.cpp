#include "launcher/trust/rooted_trust.h"

#include "launcher/feed/server_layout.h"
#include "launcher/text/format.h"
#include "launcher/transfer/sha256.h"
#include "launcher/trust/feed_trust.h"

namespace launcher {

namespace {

// Whether a document expiring at `expires` ended before the build's floor.
bool BeforeFloor(const std::wstring& expires, const RootedCheck& check) {
  const std::optional<std::chrono::sys_seconds> time = ParseUtcTime(expires);
  return !time || *time < check.floor;
}

}  // namespace

std::optional<std::wstring> WhyUntrustedTimestamp(std::string_view text,
                                                  std::string_view signatures,
                                                  const RootedCheck& check) {
  if (!SignedBy(text, signatures, check.root.timestamp)) {
    return Format(L"the timestamp isn't signed by {} of the timestamp keys of root {}",
                  check.root.timestamp.threshold, check.root.version);
  }
  const std::optional<Timestamp> timestamp = ParseTimestamp(text);
  if (!timestamp) return L"the timestamp isn't one";
  if (timestamp->version < check.state.timestamp) {
    return Format(L"the timestamp's version {} is older than the {} accepted before",
                  timestamp->version, check.state.timestamp);
  }
  if (BeforeFloor(timestamp->expires, check)) {
    return Format(L"the timestamp expired at {}, before this launcher was built",
                  timestamp->expires);
  }
  return std::nullopt;
}

std::optional<std::wstring> WhyUntrustedFeed(std::string_view feedText, const Feed& feed,
                                             std::string_view signatures,
                                             const Timestamp& timestamp,
                                             const std::wstring& feedName,
                                             const std::wstring& channel,
                                             const RootedCheck& check) {
  if (!SignedBy(feedText, signatures, check.root.release)) {
    return Format(L"it isn't signed by {} of the release keys of root {}",
                  check.root.release.threshold, check.root.version);
  }
  if (feed.product != kProductName) {
    return Format(L"it is for another product (\"{}\")", feed.product);
  }
  if (feed.channel != channel) {
    return Format(L"it is the feed of the channel \"{}\", not of \"{}\"", feed.channel, channel);
  }
  if (HasExpired(feed.expires, check.now) || BeforeFloor(feed.expires, check)) {
    return Format(L"it expired at {}", feed.expires);
  }
  if (!feed.sequence) return L"it has no sequence number";
  const auto named = timestamp.feeds.find(feedName);
  if (named == timestamp.feeds.end() || named->second.sha256 != DigestOf(feedText) ||
      named->second.sequence != *feed.sequence) {
    return L"it isn't the feed the timestamp names";
  }
  const auto accepted = check.state.channels.find(feedName);
  if (accepted != check.state.channels.end() && *feed.sequence < accepted->second.sequence) {
    return Format(L"its sequence {} is older than the {} accepted before", *feed.sequence,
                  accepted->second.sequence);
  }
  return std::nullopt;
}

std::optional<std::wstring> ChannelOfFeed(std::wstring_view feedName) {
  if (feedName == layout::FeedName(L"")) return std::wstring();
  if (!layout::IsFeedName(feedName)) return std::nullopt;
  const std::wstring_view inner = feedName.substr(7, feedName.size() - 7 - 5);  // latest-…-.json
  return std::wstring(inner);
}

}  // namespace launcher
