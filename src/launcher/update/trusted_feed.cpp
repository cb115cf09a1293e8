#include "launcher/update/trusted_feed.h"

#include <system_error>

#include "launcher/feed/server_layout.h"
#include "launcher/platform/durable_replace.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/log.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"
#include "launcher/transfer/text_fetch.h"
#include "launcher/trust/embedded_keys.h"
#include "launcher/trust/feed_trust.h"
#include "launcher/trust/rooted_trust.h"

namespace launcher {

namespace {

FetchedFeed Believed(Feed feed, std::optional<Root> root = std::nullopt) {
  FetchedFeed fetched;
  fetched.feed = std::move(feed);
  fetched.root = std::move(root);
  return fetched;
}

FetchedFeed Unbelieved(std::wstring staleSince = {}) {
  FetchedFeed fetched;
  fetched.untrusted = true;
  fetched.staleSince = std::move(staleSince);
  return fetched;
}

// A signed document and its signatures, as fetched.
struct Signed {
  std::string text;
  std::string signatures;
};

// Never a cache's stale copy: an old document would hold players back. Throws Failure.
Signed FetchSigned(const std::wstring& url) {
  return {GetText(url, kFeedLimit, true),
          GetText(layout::SignatureName(url), kSignatureLimit, true)};
}

std::optional<Signed> ReadSigned(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
  return Signed{ReadWholeFile(file),
                ReadWholeFile(PathFromWide(layout::SignatureName(WideFromPath(file))))};
}

// The newest root: from `first` through the roots the store keeps, then those the server has
// beyond them, each kept once it follows. Nothing when the chain doesn't reach the version that
// was accepted before, or the newest has expired (an expired root is good for nothing but
// advancing). A root that starts the sequences again clears those of `state`.
std::optional<Root> NewestRoot(const Root& first, const std::wstring& baseUrl,
                               const ClientStore& store, TrustState& state,
                               std::chrono::system_clock::time_point now) {
  Root trusted = first;
  for (bool remote = false;;) {
    const std::wstring name = std::to_wstring(trusted.version + 1) + L".json";
    std::optional<Signed> next =
        remote ? std::nullopt : ReadSigned(store.RootsFolder() / PathFromWide(name));
    if (!next) {
      remote = true;
      try {
        next = FetchSigned(baseUrl + layout::RootName(trusted.version + 1));
      } catch (const Failure&) {
        break;  // none further: the one request a check costs
      }
    }
    if (const auto why = WhyNotNextRoot(trusted, next->text, next->signatures)) {
      LogLine(Format(L"Root {} isn't followed: {}", trusted.version + 1, *why));
      break;
    }
    trusted = *ParseRoot(next->text);
    if (trusted.restartSequences) state.channels.clear();
    if (remote) {
      std::error_code error;
      std::filesystem::create_directories(store.RootsFolder(), error);
      const auto kept = store.RootsFolder() / PathFromWide(name);
      if (!WriteFileDurably(kept, next->text) ||
          !WriteFileDurably(PathFromWide(layout::SignatureName(WideFromPath(kept))),
                            next->signatures)) {
        LogLine(
            Format(L"Root {} couldn't be kept: it is fetched again next time", trusted.version));
      }
      LogLine(Format(L"Root {} is now the root, valid until {}", trusted.version, trusted.expires));
    }
  }
  if (trusted.version < state.root) {
    LogLine(Format(L"The roots reach only version {}, not the {} accepted before", trusted.version,
                   state.root));
    return std::nullopt;
  }
  if (HasExpired(trusted.expires, now)) {
    LogLine(Format(L"Root {} expired at {}", trusted.version, trusted.expires));
    return std::nullopt;
  }
  state.root = trusted.version;
  return trusted;
}

// The path for a launcher with a root: the timestamp, then the feed it names.
FetchedFeed FetchUnderRoot(const std::wstring& feedUrl, const ClientStore& store,
                           const FeedTrust& trust) {
  const std::size_t slash = feedUrl.rfind(L'/');
  const std::wstring baseUrl = slash == std::wstring::npos ? L"" : feedUrl.substr(0, slash + 1);
  const std::wstring feedName = feedUrl.substr(slash == std::wstring::npos ? 0 : slash + 1);
  const std::optional<std::wstring> channel = ChannelOfFeed(feedName);
  const auto now = trust.now();
  TrustState state = store.AcceptedTrust();
  const auto untrusted = [](const std::wstring& why) {
    LogLine(L"The feed isn't believed: " + why);
    return Unbelieved();
  };
  if (!channel) return untrusted(L"\"" + feedName + L"\" is no channel's feed");
  std::optional<Root> root = NewestRoot(*trust.root, baseUrl, store, state, now);
  if (!root) return untrusted(L"no root can be trusted");
  const RootedCheck check{*root, state, now, trust.floor};
  Signed timestampDocument;
  Signed feedDocument;
  Feed feed;
  try {
    timestampDocument = FetchSigned(baseUrl + layout::kTimestampName);
    if (const auto why =
            WhyUntrustedTimestamp(timestampDocument.text, timestampDocument.signatures, check)) {
      return untrusted(*why);
    }
    const Timestamp timestamp = *ParseTimestamp(timestampDocument.text);
    if (HasExpired(timestamp.expires, now)) {
      LogLine(Format(L"The timestamp expired at {}: updates can't be checked", timestamp.expires));
      return Unbelieved(timestamp.expires);
    }
    feedDocument = FetchSigned(feedUrl);
    feed = ParseFeed(feedDocument.text);
    if (const auto why = WhyUntrustedFeed(feedDocument.text, feed, feedDocument.signatures,
                                          timestamp, feedName, *channel, check)) {
      return untrusted(*why);
    }
    state.timestamp = timestamp.version;
  } catch (const Failure& failure) {
    LogLine(L"The feed couldn't be had: " + Described(failure));
    return {};
  }
  state.checked = FormatUtcTime(std::chrono::floor<std::chrono::seconds>(now));
  state.channels[feedName] = {root->version, *feed.sequence};
  LogLine(Format(L"The feed is signed: root {}, sequence {}, valid until {}", root->version,
                 *feed.sequence, feed.expires));
  if (!store.AcceptTrust(state)) LogLine(L"What was accepted couldn't be recorded");
  return Believed(std::move(feed), std::move(root));
}

// The path for a launcher built with keys only: the feed's signature by one of them.
FetchedFeed FetchWithKeys(const std::wstring& feedUrl, const std::string& text, const Feed& feed,
                          const ClientStore& store, const FeedTrust& trust) {
  std::string signatures;
  try {
    signatures = GetText(layout::SignatureName(feedUrl), kSignatureLimit, true);
  } catch (const Failure& failure) {
    LogLine(L"The feed isn't believed: its signature couldn't be had: " + Described(failure));
    return Unbelieved();
  }
  if (const auto why =
          WhyUntrusted(text, feed, signatures, trust.keys, trust.now(), store.AcceptedSequence())) {
    LogLine(L"The feed isn't believed: " + *why);
    return Unbelieved();
  }
  LogLine(Format(L"The feed is signed: sequence {}, valid until {}", *feed.sequence, feed.expires));
  // A failure to record it only weakens the protection against replays; the feed is good.
  if (!store.AcceptSequence(*feed.sequence)) LogLine(L"The feed's sequence couldn't be recorded");
  return Believed(feed);
}

}  // namespace

FeedTrust BuiltInTrust() {
  return {EmbeddedKeys(), EmbeddedRoot(), std::chrono::system_clock::now, TrustFloor()};
}

FetchedFeed FetchFeed(const std::wstring& feedUrl, const ClientStore& store,
                      const FeedTrust& trust) {
  if (trust.root) return FetchUnderRoot(feedUrl, store, trust);
  std::string text;
  Feed feed;
  try {
    text = GetText(feedUrl, kFeedLimit, true);
    feed = ParseFeed(text);
  } catch (const Failure& failure) {
    LogLine(L"The feed couldn't be had: " + Described(failure));
    return {};
  }
  if (trust.keys.empty()) return Believed(std::move(feed));
  return FetchWithKeys(feedUrl, text, feed, store, trust);
}

std::optional<Release> TrustedLauncher(const Feed& feed, const FetchedFeed& fetched,
                                       const std::wstring& baseUrl) {
  if (!feed.launcher || !IsUsableRelease(*feed.launcher)) return std::nullopt;
  if (!fetched.root) return feed.launcher;
  try {
    const Signed document =
        FetchSigned(baseUrl + layout::InstallerDocumentName(feed.launcher->version));
    const std::optional<Release> installer = ParseLauncherDocument(document.text);
    if (!SignedBy(document.text, document.signatures, fetched.root->launcher)) {
      LogLine(Format(L"The launcher {} isn't signed by {} of the launcher keys: it isn't run",
                     feed.launcher->version, fetched.root->launcher.threshold));
      return std::nullopt;
    }
    if (!installer || installer->version != feed.launcher->version) {
      LogLine(L"The launcher's document isn't the feed's launcher: it isn't run");
      return std::nullopt;
    }
    return installer;
  } catch (const Failure& failure) {
    LogLine(L"The launcher's document couldn't be had: " + Described(failure));
    return std::nullopt;
  }
}

}  // namespace launcher
