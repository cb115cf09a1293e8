#include "tools/publish/signing/signed_feed.h"

#include <algorithm>

#include "launcher/feed/server_layout.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"
#include "launcher/trust/feed_trust.h"
#include "launcher/trust/rooted_trust.h"
#include "tools/publish/server/feed_history.h"
#include "tools/publish/signing/roles.h"

namespace launcher::publish {

namespace {

// The feed's content that launchers act on, without what a new publish always changes.
bool SameContent(Feed a, Feed b) {
  for (Feed* feed : {&a, &b}) {
    feed->product.clear();
    feed->sequence.reset();
    feed->expires.clear();
  }
  return a == b;
}

// Whether the signature file beside the feed signs it with every one of the keys.
bool SignedBy(const std::filesystem::path& feedFile, const std::vector<PrivateKey>& keys) {
  const std::string text = ReadWholeFile(feedFile);
  const std::string signatures =
      ReadWholeFile(PathFromWide(layout::SignatureName(WideFromPath(feedFile))));
  const Feed feed = ParseFeed(text);
  for (const PrivateKey& key : keys) {
    // Any sequence is fine here; only the signature and the expiry are asked about.
    if (WhyUntrusted(text, feed, signatures, {key.publicKey}, std::chrono::system_clock::now(),
                     std::nullopt)) {
      return false;
    }
  }
  return true;
}

}  // namespace

Feed PublishFeed(ServerChanges& changes, const std::filesystem::path& feedFile, Feed feed,
                 const Feed& published, const Signing& signing, bool renew) {
  if (!renew && SameContent(feed, published) && feed.sequence &&
      (signing.keys.empty() || SignedBy(feedFile, signing.keys))) {
    return published;
  }
  feed.product = kProductName;
  if (published.sequence == std::numeric_limits<std::uint64_t>::max()) {
    throw Failure{
        L"the feed's sequence is at its largest and can't go higher: the launchers' "
        L"root must start the sequences again (quellorn-publish rotate "
        L"--restart-sequences)"};
  }
  feed.sequence = published.sequence.value_or(0) + 1;
  const std::filesystem::path server = feedFile.parent_path();
  const std::optional<Root> root = NewestRoot(server);
  const bool roles = root.has_value();
  if (roles) {
    std::size_t releaseKeys = 0;
    for (const PrivateKey& key : signing.keys) {
      releaseKeys +=
          std::count(root->release.keys.begin(), root->release.keys.end(), key.publicKey);
    }
    if (releaseKeys < root->release.threshold) {
      throw Failure{
          Format(L"the feed needs {} signatures of root {}'s release keys: give them with "
                 L"--key",
                 root->release.threshold, root->version)};
    }
  }
  // Under signed roles the feed names its channel, so it can't be served as another's.
  if (roles) feed.channel = ChannelOfFeed(WideFromPath(feedFile.filename())).value_or(L"");
  const auto now = std::chrono::floor<std::chrono::seconds>(signing.now());
  feed.expires = FormatUtcTime(now + std::chrono::days(signing.validDays));
  const std::string text = WriteFeed(feed);
  std::vector<std::pair<std::filesystem::path, std::string>> files = {{feedFile, text}};
  if (!signing.keys.empty()) {
    files.emplace_back(PathFromWide(layout::SignatureName(WideFromPath(feedFile))),
                       SignatureLines(text, signing.keys));
  }
  changes.WriteTogether(files);
  RecordFeed(server, WideFromPath(feedFile.filename()), feed, signing.now());
  // Last: the timestamp that names it.
  if (roles) PublishTimestamp(changes, server, signing, signing.timestampHours);
  return feed;
}

}  // namespace launcher::publish
