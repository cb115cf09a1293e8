#include "launcher/feed/version.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

TEST(ParseVersion, Table) {
  const std::pair<std::wstring, std::vector<std::uint32_t>> cases[] = {
      {L"", {0}},
      {L"2.2.0", {2, 2, 0}},
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
  const Case cases[] = {
      {L"2.2.0", kOwnVersion, false},
      {L"2.2", kOwnVersion, false},
      {L"2.2.0.0", kOwnVersion, false},
      {L"2.2.1", kOwnVersion, true},
      {L"2.10.0", kOwnVersion, true},
      {L"3", kOwnVersion, true},
      {L"2.2.0-rc1", kOwnVersion, false},
      {L"2.4294967296", kOwnVersion, false},
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
