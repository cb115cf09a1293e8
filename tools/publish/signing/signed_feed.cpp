#include "tools/publish/signing/signed_feed.h"

#include "launcher/feed/server_layout.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"
#include "launcher/trust/feed_trust.h"

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
  feed.sequence = published.sequence.value_or(0) + 1;
  const auto now = std::chrono::floor<std::chrono::seconds>(signing.now());
  feed.expires = FormatUtcTime(now + std::chrono::days(signing.validDays));
  const std::string text = WriteFeed(feed);
  std::vector<std::pair<std::filesystem::path, std::string>> files = {{feedFile, text}};
  if (!signing.keys.empty()) {
    std::string signatures;
    for (const PrivateKey& key : signing.keys) {
      const Signature signature = Sign(key, text);
      signatures += HexOf(signature.data(), signature.size()) + "\n";
    }
    files.emplace_back(PathFromWide(layout::SignatureName(WideFromPath(feedFile))), signatures);
  }
  changes.WriteTogether(files);
  return feed;
}

}  // namespace launcher::publish
