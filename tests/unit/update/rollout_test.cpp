#include "launcher/update/rollout.h"

#include <gtest/gtest.h>

#include <string>

namespace launcher {
namespace {

std::string IdentityNumber(int i) {
  return "installation-" + std::to_string(i);
}

// Over a thousand installations the share taken in is the one asked for, within a few percent;
// raising it only adds installations; and a new salt draws the line anew.
TEST(IsInRollout, TakesInTheShareAskedForAndKeepsEachSideAsItGrows) {
  constexpr int kInstallations = 1000;
  for (const std::uint32_t percent : {0u, 1u, 10u, 50u, 90u, 100u}) {
    int in = 0;
    for (int i = 0; i < kInstallations; ++i) in += IsInRollout(IdentityNumber(i), L"salt", percent);
    // Within 5 %: three standard deviations of a fair draw at 50 %, 16 installations each.
    EXPECT_NEAR(in, static_cast<int>(percent) * kInstallations / 100, 50) << percent;
  }
  int leftWhenRaised = 0;
  int sameUnderAnotherSalt = 0;
  for (int i = 0; i < kInstallations; ++i) {
    const std::string identity = IdentityNumber(i);
    if (IsInRollout(identity, L"salt", 20) && !IsInRollout(identity, L"salt", 30)) {
      ++leftWhenRaised;
    }
    sameUnderAnotherSalt +=
        IsInRollout(identity, L"salt", 50) == IsInRollout(identity, L"other salt", 50);
  }
  EXPECT_EQ(leftWhenRaised, 0);
  // Independent lines agree on about half of the installations, not all of them.
  EXPECT_NEAR(sameUnderAnotherSalt, kInstallations / 2, 60);
}

// The number the rule reads, worked out apart for one identity: SHA-256 of "s\nid" (printf
// 's\nid' | sha256sum) begins 9f80058367ae19b4, which modulo 10,000 is 3,540: in from 36 %.
TEST(IsInRollout, TheLineLiesWhereTheRuleSays) {
  EXPECT_FALSE(IsInRollout("id", L"s", 35));
  EXPECT_TRUE(IsInRollout("id", L"s", 36));
}

TEST(OfferedFeed, AnInstallationWithinTheShareIsOfferedTheRolloutsRelease) {
  Feed feed;
  feed.release = {L"1.0.0", L"Quellorn-1.0.0.tar", std::wstring(64, L'a'), 10};
  feed.files = L"Quellorn-1.0.0-files.txt";
  Rollout rollout;
  rollout.release = {L"1.1.0", L"Quellorn-1.1.0.tar", std::wstring(64, L'b'), 11};
  rollout.files = L"Quellorn-1.1.0-files.txt";
  rollout.salt = L"s";
  struct Case {
    const char* what;
    std::uint32_t percent;
    bool usable;
    const wchar_t* offered;
  };
  const Case cases[] = {
      {"within", 36, true, L"1.1.0"},
      {"outside", 35, true, L"1.0.0"},
      {"everyone, but an unusable release", 100, false, L"1.0.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    feed.rollout = rollout;
    feed.rollout->percent = c.percent;
    if (!c.usable) feed.rollout->release.size = 0;
    const Feed offered = OfferedFeed(feed, "id");
    EXPECT_EQ(offered.release.version, c.offered);
    EXPECT_EQ(offered.files, std::wstring(c.offered) == L"1.1.0" ? rollout.files : feed.files);
    EXPECT_FALSE(offered.rollout.has_value());
  }
}

}  // namespace
}  // namespace launcher
