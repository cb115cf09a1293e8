#include "launcher/feed/feed.h"

#include <gtest/gtest.h>

#include "launcher/text/failure.h"
#include "launcher/text/text.h"

namespace launcher {
namespace {

const std::string kDigest = "0123456789ABCDEF0123456789abcdef0123456789abcdef0123456789ABCDEF";
const std::wstring kLowerDigest =
    L"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

TEST(ParseFeed, ReadsTheReleaseAndNothingElseWhenThatIsAllThereIs) {
  const Feed feed = ParseFeed(
      "\xEF\xBB\xBF{\"version\":\"1.4.0\",\"file\":\"Quellorn-1.4.0.zip\","
      "\"sha256\":\"" +
      kDigest + "\",\"size\":1048576,\"other\":\"x\"}");
  EXPECT_EQ(feed.release.version, L"1.4.0");
  EXPECT_EQ(feed.release.file, L"Quellorn-1.4.0.zip");
  EXPECT_EQ(feed.release.sha256, kLowerDigest);
  EXPECT_EQ(feed.release.size, 1048576u);
  EXPECT_FALSE(feed.launcher.has_value());
  EXPECT_EQ(feed.files, L"");
  EXPECT_EQ(feed.filesSha256, L"");
  EXPECT_TRUE(IsUsableRelease(feed.release));
}

TEST(ParseFeed, TheLauncherEntryExistsExactlyWhenItsVersionIsNotEmpty) {
  const std::string launcher =
      "\"launcherFile\":\"Quellorn-Launcher-2.3.0.exe\","
      "\"launcherSha256\":\"" +
      kDigest + "\",\"launcherSize\":\"77\"";
  EXPECT_FALSE(ParseFeed("{\"launcherVersion\":\"\"," + launcher + "}").launcher.has_value());
  const Feed feed = ParseFeed("{\"launcherVersion\":\"2.3.0\"," + launcher + "}");
  ASSERT_TRUE(feed.launcher.has_value());
  EXPECT_EQ(feed.launcher->version, L"2.3.0");
  EXPECT_EQ(feed.launcher->file, L"Quellorn-Launcher-2.3.0.exe");
  EXPECT_EQ(feed.launcher->sha256, kLowerDigest);
  EXPECT_EQ(feed.launcher->size, 77u);
  EXPECT_TRUE(IsUsableRelease(*feed.launcher));
  // Present but unusable: no file.
  const Feed noFile = ParseFeed("{\"launcherVersion\":\"2.3.0\"}");
  ASSERT_TRUE(noFile.launcher.has_value());
  EXPECT_FALSE(IsUsableRelease(*noFile.launcher));
}

TEST(ParseFeed, FilesKeepTheirCaseAndTheirDigestIsLowered) {
  const Feed feed =
      ParseFeed("{\"files\":\"Files-1.4.0.TXT\",\"filesSha256\":\"" + kDigest + "\"}");
  EXPECT_EQ(feed.files, L"Files-1.4.0.TXT");
  EXPECT_EQ(feed.filesSha256, kLowerDigest);
}

TEST(ParseFeed, OnlyTheReadersFailureEscapes) {
  for (const std::string bad : {"", "[]", "{\"size\":1,}", "<html>"}) {
    try {
      ParseFeed(bad);
      ADD_FAILURE() << bad;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.message,
                L"The update server answered with something that isn't a release.");
    }
  }
}

TEST(ReadRelease, SizeRule) {
  const std::pair<std::string, std::uint64_t> cases[] = {
      {"42", 42},
      {"\"42\"", 42},
      {"\"42 apples\"", 42},
      {"\"  +42\"", 42},
      {"1e6", 1},
      {"12.0", 12},
      {"0", 0},
      {"\"\"", 0},
      {"\"x42\"", 0},
      {"\"-\"", 0},
      {"18446744073709551615", 18446744073709551615u},
      {"18446744073709551616", 0},  // beyond 64 bits
      {"99999999999999999999999", 0},
      {"-1", 0},  // unreadable: wrapped, it would be the largest size there is
      {"\"-0\"", 0},
  };
  for (const auto& [text, size] : cases) {
    JsonObject object = ParseObject("{\"size\":" + text + "}");
    EXPECT_EQ(ReadRelease(object, "", false).size, size) << text;
  }
  JsonObject missing = ParseObject("{}");
  EXPECT_EQ(ReadRelease(missing, "", false).size, 0u);
}

TEST(IsPlainName, Table) {
  const std::pair<std::wstring, bool> cases[] = {
      {L"1.4.0", true},      {L"Quellorn-1.4.0.zip", true},
      {L"a", true},          {L"9", true},
      {L"a..b", true},       {L"v1.", false},  // Windows would drop the dot
      {L"nul", false},       {L"COM1", false},
      {L"con.1.0", false},   {L"console", true},
      {L"", false},          {L".hidden", false},
      {L"-x", false},        {L"..", false},
      {L"a/b", false},       {L"a\\b", false},
      {L"a b", false},       {L"a_b", false},
      {L"caf\u00E9", false}, {L"\uFF21", false},  // a full-width letter is not an ASCII letter
  };
  for (const auto& [name, plain] : cases) EXPECT_EQ(IsPlainName(name), plain) << Narrow(name);
}

TEST(IsUsableRelease, NeedsPlainNamesA64CharacterDigestAndASize) {
  const Release good{L"1.4.0", L"client.zip", std::wstring(64, L'a'), 1};
  EXPECT_TRUE(IsUsableRelease(good));
  Release release = good;
  release.sha256 = std::wstring(64, L'z');  // characters aren't checked here, only the length
  EXPECT_TRUE(IsUsableRelease(release));
  for (const size_t length : {0u, 63u, 65u}) {
    release = good;
    release.sha256 = std::wstring(length, L'a');
    EXPECT_FALSE(IsUsableRelease(release)) << length;
  }
  release = good;
  release.size = 0;
  EXPECT_FALSE(IsUsableRelease(release));
  release = good;
  release.version = L"1.4 beta";
  EXPECT_FALSE(IsUsableRelease(release));
  release = good;
  release.file = L"../client.zip";
  EXPECT_FALSE(IsUsableRelease(release));
}

// Those within a rollout are offered its release and documents; a share that can't be read
// offers it to nobody.
TEST(ParseFeed, ARolloutNamesItsReleaseAndDocumentsBesideTheFeedsOwn) {
  const std::string release =
      "\"version\":\"1.0.0\",\"file\":\"a.tar\",\"size\":5,\"files\":\"a.txt\"";
  const std::string rollout =
      ",\"rolloutVersion\":\"1.1.0\",\"rolloutFile\":\"b.tar\",\"rolloutSha256\":\"" + kDigest +
      "\",\"rolloutSize\":6,\"rolloutFiles\":\"b.txt\",\"rolloutFilesSha256\":\"" + kDigest +
      "\",\"rolloutSalt\":\"s\"";
  const std::pair<std::string, std::uint32_t> shares[] = {
      {"10", 10}, {"\"100\"", 100}, {"101", 0}, {"-5", 0}, {"\"half\"", 0}};
  for (const auto& [percent, read] : shares) {
    const Feed feed = ParseFeed("{" + release + rollout + ",\"rolloutPercent\":" + percent + "}");
    ASSERT_TRUE(feed.rollout.has_value()) << percent;
    EXPECT_EQ(feed.rollout->percent, read) << percent;
    EXPECT_EQ(feed.rollout->filesSha256, kLowerDigest);
    const Feed offered = RolledOut(feed);
    EXPECT_EQ(offered.release, feed.rollout->release);
    EXPECT_EQ(offered.files, L"b.txt");
    EXPECT_FALSE(offered.rollout.has_value());
  }
  EXPECT_FALSE(ParseFeed("{" + release + "}").rollout.has_value());
  EXPECT_EQ(RolledOut(ParseFeed("{" + release + "}")).release.version, L"1.0.0");
}

TEST(WriteFeed, ReadsBackAsTheSameFeedWhateverTheTextHolds) {
  Feed feed;
  feed.release = {L"1.0.0", L"Quellorn-1.0.0.tar.gz", kLowerDigest, 18446744073709551615u};
  feed.launcher = Release{L"2.3.0", L"Quellorn-Launcher-2.3.0.exe", kLowerDigest, 42};
  feed.files = L"Quellorn-1.0.0-files.txt";
  feed.filesSha256 = kLowerDigest;
  feed.product = L"Quellorn";
  feed.sequence = 18446744073709551615u;
  feed.expires = L"2027-01-31T12:00:00Z";
  EXPECT_EQ(ParseFeed(WriteFeed(feed)), feed);
  // A rollout, with every document its release has.
  feed.rollout = Rollout{{L"1.1.0", L"Quellorn-1.1.0.tar.zst", kLowerDigest, 7},
                         L"Quellorn-1.1.0-files.txt",
                         kLowerDigest,
                         L"Quellorn-1.1.0-chunks.txt",
                         kLowerDigest,
                         L"Quellorn-1.1.0-blocks.txt",
                         kLowerDigest,
                         L"Quellorn-1.1.0-manifest.zst",
                         kLowerDigest,
                         25,
                         L"5a17"};
  EXPECT_EQ(ParseFeed(WriteFeed(feed)), feed);
  // Quotes, backslashes, control characters and letters beyond ASCII survive the trip.
  feed.release.version = L"a\"b\\c\td\u0001\u00e9\u4e16";
  feed.launcher.reset();
  feed.files.clear();
  feed.sequence.reset();
  EXPECT_EQ(ParseFeed(WriteFeed(feed)), feed);
}

}  // namespace
}  // namespace launcher
