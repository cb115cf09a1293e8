#include "launcher/trust/feed_trust.h"

#include <gtest/gtest.h>

#include "launcher/text/text.h"
#include "tools/publish/signing/signing.h"

namespace launcher {
namespace {

using std::chrono::sys_days;
using namespace std::chrono_literals;

const std::filesystem::path kKeys = LAUNCHER_TEST_KEYS_DIR;

PublicKey FirstKey() {
  return *ParsePublicKey(
      "a63f753cea48b91163f9c58ff39dee17c8360c726f0ec57be3d2057ce10cc297ab92d2b86bfcdb3720d242f7db3"
      "67fa2fa8ba19675004e91d7bce53fdf42afc1");
}

TEST(VerifySignature, HoldsTheSignatureOpenSslMadeOfTheBytes) {
  // `openssl dgst -sha256 -sign tests/keys/first.pem` of these bytes, r and s from its DER.
  const Signature made = *ParseSignature(
      "8C281DEF2C14351B2D1C6B3CEE5E75886B706252E7D294B35492201FC067EF62"
      "92A3C1F783CEFEC79D3445FA076EAEF4EA262DF8A035DD5B73476C75168177C1");
  EXPECT_TRUE(VerifySignature(FirstKey(), "the feed bytes", made));
  EXPECT_FALSE(VerifySignature(FirstKey(), "the feed bytez", made));
  Signature flipped = made;
  flipped[40] ^= 1;
  EXPECT_FALSE(VerifySignature(FirstKey(), "the feed bytes", flipped));
  const PublicKey second = publish::ReadPrivateKey(kKeys / "second.pem").publicKey;
  EXPECT_FALSE(VerifySignature(second, "the feed bytes", made));
  EXPECT_FALSE(VerifySignature(PublicKey{}, "the feed bytes", made));  // no point of the curve
  EXPECT_FALSE(ParsePublicKey("a63f"));
  EXPECT_FALSE(ParseSignature(std::string(128, 'g')));
}

TEST(VerifySignature, HoldsWhatThePublishingToolSigns) {
  const publish::PrivateKey key = publish::ReadPrivateKey(kKeys / "first.pem");
  EXPECT_EQ(key.publicKey, FirstKey());
  EXPECT_TRUE(VerifySignature(key.publicKey, "{}", publish::Sign(key, "{}")));
}

TEST(ParseUtcTime, Table) {
  const std::pair<std::wstring, std::optional<std::chrono::sys_seconds>> cases[] = {
      {L"2027-01-31T12:00:05Z", sys_days(2027y / 1 / 31) + 12h + 5s},
      {L"2028-02-29T00:00:00Z", sys_days(2028y / 2 / 29)},
      {L"2027-02-29T00:00:00Z", std::nullopt},  // no such day
      {L"2027-01-31T24:00:00Z", std::nullopt},
      {L"2027-01-31 12:00:00Z", std::nullopt},
      {L"2027-01-31T12:00:00", std::nullopt},
      {L"2027-1-31T12:00:00Z", std::nullopt},
      {L"+027-01-31T12:00:00Z", std::nullopt},
      {L"", std::nullopt},
  };
  for (const auto& [text, time] : cases) EXPECT_EQ(ParseUtcTime(text), time) << Narrow(text);
  EXPECT_EQ(FormatUtcTime(sys_days(2027y / 1 / 31) + 12h + 5s), L"2027-01-31T12:00:05Z");
}

TEST(WhyUntrusted, OnlyAFreshSignedFeedOfQuellornInSequence) {
  const publish::PrivateKey first = publish::ReadPrivateKey(kKeys / "first.pem");
  const publish::PrivateKey second = publish::ReadPrivateKey(kKeys / "second.pem");
  const auto now = sys_days(2027y / 1 / 1) + 0s;
  Feed good;
  good.release = {L"1.0.0", L"Quellorn-1.0.0.tar.gz", std::wstring(64, L'a'), 10};
  good.product = L"Quellorn";
  good.sequence = 7;
  good.expires = L"2027-01-10T00:00:00Z";
  const auto sign = [](const publish::PrivateKey& key, const std::string& text) {
    const Signature signature = publish::Sign(key, text);
    return HexOf(signature.data(), signature.size()) + "\n";
  };
  struct Case {
    const char* name;
    std::function<void(Feed&)> change;
    std::function<std::string(const std::string&)> signatures;
    std::optional<std::uint64_t> accepted;
    std::chrono::sys_seconds at;
    bool trusted;
  };
  const auto byFirst = [&](const std::string& text) { return sign(first, text); };
  const Case cases[] = {
      {"signed and fresh", nullptr, byFirst, 6, now, true},
      {"the same sequence again", nullptr, byFirst, 7, now, true},
      {"by the rotated-in key, one line of two", nullptr,
       [&](const std::string& text) { return std::string(128, '0') + "\n" + sign(second, text); },
       std::nullopt, now, true},
      {"a day of clock error", nullptr, byFirst, 7, sys_days(2027y / 1 / 10) + 23h, true},
      {"no signature", nullptr, [](const std::string&) { return std::string(); }, 7, now, false},
      {"by another key", nullptr,
       [&](const std::string& text) { return sign(publish::GenerateKey(), text); }, 7, now, false},
      {"changed after signing", nullptr,
       [&](const std::string& text) { return sign(first, text + " "); }, 7, now, false},
      {"replayed, lower sequence", nullptr, byFirst, 8, now, false},
      {"expired", nullptr, byFirst, 7, sys_days(2027y / 1 / 11) + 1s, false},
      {"another product", [](Feed& feed) { feed.product = L"Quellorn2"; }, byFirst, 7, now, false},
      {"no sequence", [](Feed& feed) { feed.sequence.reset(); }, byFirst, 7, now, false},
      {"no expiry", [](Feed& feed) { feed.expires.clear(); }, byFirst, 7, now, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Feed feed = good;
    if (c.change) c.change(feed);
    const std::string text = WriteFeed(feed);
    const auto why = WhyUntrusted(text, feed, c.signatures(text),
                                  {first.publicKey, second.publicKey}, c.at, c.accepted);
    EXPECT_EQ(!why, c.trusted) << (why ? Narrow(*why) : "");
  }
}

}  // namespace
}  // namespace launcher
