#include "launcher/trust/signed_roles.h"

#include <gtest/gtest.h>

#include "launcher/text/text.h"
#include "launcher/transfer/sha256.h"
#include "launcher/trust/feed_trust.h"
#include "launcher/trust/rooted_trust.h"
#include "launcher/trust/trust_state.h"
#include "tools/publish/signing/roles.h"
#include "tools/publish/signing/signing.h"

namespace launcher {
namespace {

using std::chrono::sys_days;
using namespace std::chrono_literals;

const std::filesystem::path kKeys = LAUNCHER_TEST_KEYS_DIR;
const auto kNow = std::chrono::system_clock::time_point(sys_days(2027y / 1 / 1));

struct Keys {
  publish::PrivateKey first = publish::ReadPrivateKey(kKeys / "first.pem");
  publish::PrivateKey second = publish::ReadPrivateKey(kKeys / "second.pem");
  publish::PrivateKey third = publish::ReadPrivateKey(kKeys / "third.pem");
};

// Root 1: root 2 of first, second and third; release first; timestamp second; launcher 2.
Root FirstRoot(const Keys& keys) {
  const PublicKey f = keys.first.publicKey, s = keys.second.publicKey, t = keys.third.publicKey;
  return {1, L"2028-01-01T00:00:00Z", {{f, s, t}, 2}, {{f}, 1}, {{s}, 1}, {{f, s}, 2}, false};
}

TEST(WhyNotNextRoot, ARootFollowsOnlyWithThresholdsOfTheOldRootKeysAndItsOwn) {
  const Keys keys;
  const Root first = FirstRoot(keys);
  Root next = first;
  next.version = 2;
  next.release = {{keys.third.publicKey}, 1};  // the first key revoked, the third in its place
  Root newKeys = next;
  newKeys.root = {{keys.second.publicKey, keys.third.publicKey}, 2};
  Root skipping = next;
  skipping.version = 3;
  Root expired = first;
  expired.expires = L"2020-01-01T00:00:00Z";
  struct Case {
    const char* what;
    const Root& trusted;
    const Root& next;
    std::vector<const publish::PrivateKey*> signers;
    bool follows;
  };
  const Case cases[] = {
      {"two of the root keys", first, next, {&keys.first, &keys.third}, true},
      {"one of them", first, next, {&keys.first}, false},
      {"one key signing twice", first, next, {&keys.first, &keys.first}, false},
      {"a version skipped", first, skipping, {&keys.first, &keys.third}, false},
      {"new root keys, not signed by two of them",
       first,
       newKeys,
       {&keys.first, &keys.third},
       false},
      {"new root keys, signed by two of old and new",
       first,
       newKeys,
       {&keys.first, &keys.second, &keys.third},
       true},
      {"an expired root still advances", expired, next, {&keys.first, &keys.second}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = WriteRoot(c.next);
    std::string signatures;
    for (const publish::PrivateKey* key : c.signers)
      signatures += publish::SignatureLines(text, {*key});
    const std::optional<std::wstring> why = WhyNotNextRoot(c.trusted, text, signatures);
    EXPECT_EQ(!why.has_value(), c.follows) << (why ? Narrow(*why) : "");
  }
}

TEST(ParseRoot, ReadsWhatItWritesAndCountsAKeyListedTwiceOnce) {
  const Keys keys;
  const Root root = FirstRoot(keys);
  EXPECT_EQ(ParseRoot(WriteRoot(root)), root);
  Root twice = root;
  twice.launcher = {{keys.first.publicKey, keys.first.publicKey}, 2};  // two signatures of one
  EXPECT_FALSE(ParseRoot(WriteRoot(twice)));
  Root none = root;
  none.release.threshold = 0;
  EXPECT_FALSE(ParseRoot(WriteRoot(none)));
  EXPECT_FALSE(ParseRoot("{\"product\":\"Quellorn\",\"type\":\"feed\"}"));
  EXPECT_EQ(SignersOf("text", publish::SignatureLines("text", {keys.first, keys.second}),
                      {keys.first.publicKey, keys.first.publicKey, keys.second.publicKey}),
            2u);
}

// The feed under a root: signed by its release role, of its channel, as the timestamp names it,
// and no older than the channel's last.
TEST(WhyUntrustedFeed, TheChannelTheTimestampAndTheSequenceDecide) {
  const Keys keys;
  const Root root = FirstRoot(keys);
  Feed feed;
  feed.product = L"Quellorn";
  feed.sequence = 7;
  feed.expires = L"2027-01-20T00:00:00Z";
  feed.channel = L"beta";
  const std::string text = WriteFeed(feed);
  const Timestamp named{3, L"2027-01-02T00:00:00Z", {{L"latest-beta.json", {DigestOf(text), 7}}}};
  TrustState state;
  state.channels[L"latest-beta.json"] = {1, 7};
  TrustState ahead;
  ahead.channels[L"latest-beta.json"] = {1, 8};
  struct Case {
    const char* what;
    std::string signatures;
    std::wstring name;
    std::wstring channel;
    const TrustState& state;
    std::chrono::system_clock::time_point floor;
    bool believed;
  };
  const std::string byRelease = publish::SignatureLines(text, {keys.first});
  const Case cases[] = {
      {"as named", byRelease, L"latest-beta.json", L"beta", state, {}, true},
      {"signed by another key",
       publish::SignatureLines(text, {keys.third}),
       L"latest-beta.json",
       L"beta",
       state,
       {},
       false},
      {"served as the live feed", byRelease, L"latest.json", L"", state, {}, false},
      {"older than the channel's last", byRelease, L"latest-beta.json", L"beta", ahead, {}, false},
      {"expired before the build's floor", byRelease, L"latest-beta.json", L"beta", state,
       std::chrono::system_clock::time_point(sys_days(2027y / 2 / 1)), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RootedCheck check{root, c.state, kNow, c.floor};
    const auto why =
        WhyUntrustedFeed(text, ParseFeed(text), c.signatures, named, c.name, c.channel, check);
    EXPECT_EQ(!why.has_value(), c.believed) << (why ? Narrow(*why) : "");
  }
  // A feed the timestamp names by another digest isn't it.
  Timestamp other = named;
  other.feeds[L"latest-beta.json"].sha256 = DigestOf("another feed");
  EXPECT_TRUE(WhyUntrustedFeed(text, ParseFeed(text), byRelease, other, L"latest-beta.json",
                               L"beta", {root, state, kNow}));
}

TEST(WhyUntrustedTimestamp, SignedByItsRoleAndNoOlderThanTheLast) {
  const Keys keys;
  const Root root = FirstRoot(keys);
  const Timestamp timestamp{5, L"2027-01-02T00:00:00Z", {}};
  const std::string text = WriteTimestamp(timestamp);
  EXPECT_EQ(ParseTimestamp(text), timestamp);
  TrustState state;
  state.timestamp = 5;
  const RootedCheck check{root, state, kNow};
  EXPECT_FALSE(WhyUntrustedTimestamp(text, publish::SignatureLines(text, {keys.second}), check));
  EXPECT_TRUE(WhyUntrustedTimestamp(text, publish::SignatureLines(text, {keys.first}), check));
  state.timestamp = 6;
  EXPECT_TRUE(WhyUntrustedTimestamp(text, publish::SignatureLines(text, {keys.second}), check));
  // An expired one is believed, but says that updates can't be checked.
  EXPECT_TRUE(HasExpired(timestamp.expires, kNow + 72h));  // a day of clock error allowed
  EXPECT_FALSE(HasExpired(timestamp.expires, kNow + 12h));
}

TEST(TrustState, CopiesMergeToTheHighestOfEachAndAnythingElseIsNone) {
  TrustState a;
  a.root = 2;
  a.timestamp = 9;
  a.checked = L"2027-01-01T00:00:00Z";
  a.channels = {{L"latest.json", {2, 4}}, {L"latest-beta.json", {1, 30}}};
  TrustState b;
  b.root = 1;
  b.timestamp = 11;
  b.channels = {{L"latest.json", {2, 6}}, {L"latest-beta.json", {1, 10}}};
  EXPECT_EQ(ParseTrustState(FormatTrustState(a)), a);
  const TrustState merged = Merged(a, b);
  EXPECT_EQ(merged.root, 2u);
  EXPECT_EQ(merged.timestamp, 11u);
  EXPECT_EQ(merged.checked, a.checked);
  EXPECT_EQ(merged.channels.at(L"latest.json"), (TrustState::Sequence{2, 6}));
  EXPECT_EQ(merged.channels.at(L"latest-beta.json"), (TrustState::Sequence{1, 30}));
  for (const char* bad :
       {"", "quellorn trust 1\nroot x\n", "quellorn trust 1\nroot 1", "something else\n"}) {
    EXPECT_FALSE(ParseTrustState(bad)) << bad;
  }
}

}  // namespace
}  // namespace launcher
