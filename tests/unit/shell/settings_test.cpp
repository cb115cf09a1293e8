#include "launcher/shell/settings.h"

#include <gtest/gtest.h>

#include "support/temporary_folder.h"

namespace launcher {
namespace {

TEST(ReadDownloadLimit, AWholeNumberOfKilobytesAboveZeroOrNone) {
  const std::pair<std::string, std::uint64_t> cases[] = {
      {R"({"maxDownloadKBps": 500})", 512000},
      {R"({"maxDownloadKBps": "64", "feed": "x"})", 65536},
      {R"({"maxDownloadKBps": 0})", 0},
      {R"({"maxDownloadKBps": -5})", 0},
      {R"({"maxDownloadKBps": 1.5})", 0},
      {R"({"maxDownloadKBps": "fast"})", 0},
      {R"({"maxDownloadKBps": 99999999999999999999})", 0},
      {R"({"feed": "x"})", 0},
      {"not json", 0},
  };
  for (const auto& [text, limit] : cases) EXPECT_EQ(ReadDownloadLimit(text), limit) << text;
}

TEST(ReadTransferLimits, WholeNumbersAboveZeroElseTheDefaults) {
  struct Case {
    std::string text;
    std::uint64_t limit, slowest;
    std::chrono::seconds window;
  };
  const TransferSettings defaults;
  const auto window = std::chrono::duration_cast<std::chrono::seconds>(defaults.slowWindow);
  const Case cases[] = {
      {R"({"minDownloadKBps": 4, "slowDownloadSeconds": 300})", 0, 4096, std::chrono::seconds(300)},
      {R"({"minDownloadKBps": 0, "slowDownloadSeconds": "soon"})", 0, defaults.slowestRate, window},
      // A player's own limit never reads as a stall: the slowest rate is half of it at most.
      {R"({"maxDownloadKBps": 8})", 8192, 4096, window},
      {R"({"maxDownloadKBps": 100, "minDownloadKBps": 20})", 102400, 20480, window},
      {"not json", 0, defaults.slowestRate, window},
  };
  for (const Case& c : cases) {
    TransferSettings settings;
    ReadTransferLimits(c.text, settings);
    EXPECT_EQ(settings.bandwidthLimit, c.limit) << c.text;
    EXPECT_EQ(settings.slowestRate, c.slowest) << c.text;
    EXPECT_EQ(settings.slowWindow, c.window) << c.text;
  }
}

TEST(ReadFeedSetting, TakesTheFeedMemberOrNothing) {
  const std::pair<std::string, std::wstring> cases[] = {
      {R"({"feed": "https://mirror.test/latest.json"})", L"https://mirror.test/latest.json"},
      {"\xEF\xBB\xBF{\"other\":1,\"feed\":\"http://h/\xC3\xA9.json\"}", L"http://h/\u00E9.json"},
      {R"({"feed": ""})", L""},
      {R"({})", L""},
      {R"([1])", L""},
      {"", L""},
      {R"({"feed": "unterminated)", L""},
      {R"({"Feed": "wrong case"})", L""},
  };
  for (const auto& [text, feed] : cases) EXPECT_EQ(ReadFeedSetting(text), feed) << text;
}

TEST(ResolveFeedUrl, OverrideThenSettingsFileThenBuiltIn) {
  const support::TemporaryFolder folder;
  const auto& directory = folder.path();
  // No launcher.json at all.
  EXPECT_EQ(ResolveFeedUrl(L"", directory), BuiltInFeedUrl());
  EXPECT_EQ(ResolveFeedUrl(L"not even a URL", directory), L"not even a URL");

  folder.Write("launcher.json", R"({"feed":"https://mirror.test/feed.json"})");
  EXPECT_EQ(ResolveFeedUrl(L"", directory), L"https://mirror.test/feed.json");
  EXPECT_EQ(ResolveFeedUrl(L"https://cli.test/f.json", directory), L"https://cli.test/f.json");

  for (const std::string bad : {"{\"feed\": \"\"}", "{}", "[1]", "", "\xFF\xFE{"}) {
    folder.Write("launcher.json", bad);
    EXPECT_EQ(ResolveFeedUrl(L"", directory), BuiltInFeedUrl()) << bad;
  }

  // A folder where the file should be can't be read: the built-in URL, silently.
  std::filesystem::remove(directory / "launcher.json");
  std::filesystem::create_directory(directory / "launcher.json");
  EXPECT_EQ(ResolveFeedUrl(L"", directory), BuiltInFeedUrl());
}

TEST(BuiltInFeedUrl, IsHttpsOnTheWebsite) {
  const std::wstring url = BuiltInFeedUrl();
  EXPECT_EQ(url.rfind(L"https://", 0), 0u);
  EXPECT_TRUE(url.ends_with(L"/download/client/latest.json"));
  EXPECT_GT(url.size(), std::wstring(L"https:///download/client/latest.json").size());
}

}  // namespace
}  // namespace launcher
