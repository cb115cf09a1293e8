#include "launcher/feed/version.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

TEST(ParseVersion, Table) {
  const std::pair<std::wstring, std::vector<std::uint32_t>> cases[] = {
      {L"", {0}},
      {L"1.4.2", {1, 4, 2}},
      {L"3.", {3, 0}},
      {L".", {0, 0}},
      {L"2.3.0-beta", {2, 3, 0}},
      {L"2.10", {2, 10}},
      {L"rc2", {0}},
      {L"2.4294967296", {2, 0}},
      {L"2.4294967295", {2, 4294967295u}},
      {L" 7.-1", {7, 4294967295u}},  // "-" negates modulo 2^32
  };
  for (const auto& [text, numbers] : cases) EXPECT_EQ(ParseVersion(text), numbers);
}

TEST(IsNewerVersion, Table) {
  struct Case {
    std::wstring a;
    std::wstring b;
    bool newer;
  };
  // The launcher's own version (major.minor.patch) and those just around it.
  const std::wstring own = kOwnVersion;
  const std::vector<std::uint32_t> piece = ParseVersion(own);
  ASSERT_EQ(piece.size(), 3u);
  const auto version = [](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    return std::to_wstring(a) + L"." + std::to_wstring(b) + L"." + std::to_wstring(c);
  };
  const Case cases[] = {
      {own, kOwnVersion, false},
      {own + L".0", kOwnVersion, false},
      {version(piece[0], piece[1], piece[2] + 1), kOwnVersion, true},
      {version(piece[0], piece[1] + 1, 0), kOwnVersion, true},
      {std::to_wstring(piece[0] + 1), kOwnVersion, true},
      {own + L"-rc1", kOwnVersion, false},
      {std::to_wstring(piece[0]) + L".4294967296", kOwnVersion, false},  // too large: 0
      {L"", kOwnVersion, false},
      {kOwnVersion, L"", true},
      {L"letters only", kOwnVersion, false},
      {L"2.2.0.1", L"2.2", true},
      {L"2.10.0", L"2.9.9", true},
      {L"10.0", L"9.99", true},
      {L"2.9.9", L"2.10.0", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsNewerVersion(c.a, c.b), c.newer)
        << ::testing::PrintToString(c.a) << " vs " << ::testing::PrintToString(c.b);
  }
}

}  // namespace
}  // namespace launcher
