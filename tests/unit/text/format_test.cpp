#include "launcher/text/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

namespace launcher {
namespace {

TEST(Format, FillsPlaceholdersInOrder) {
  const std::wstring name = L"Quellorn";
  EXPECT_EQ(Format(L"no placeholders"), L"no placeholders");
  EXPECT_EQ(Format(L"{} and {}", L"first", name), L"first and Quellorn");
  EXPECT_EQ(Format(L"{}{}{}", 1, std::uint64_t{18446744073709551615u}, -7),
            L"118446744073709551615-7");
  EXPECT_EQ(Format(L"{} MB of {} MB\u2026", std::uint32_t{3}, 120), L"3 MB of 120 MB\u2026");
  EXPECT_EQ(Format(L"{}", L""), L"");
}

TEST(Format, UnderstandsTheSpecifiersOfTheMessages) {
  struct Case {
    std::wstring got;
    std::wstring expected;
  };
  const Case cases[] = {
      {Format(L"Local\\QuellornLauncher-{:016x}", std::uint64_t{0xcbf29ce484222325}),
       L"Local\\QuellornLauncher-cbf29ce484222325"},
      {Format(L"{:016x}", std::uint64_t{0xe3ecc3b716cb6e}), L"00e3ecc3b716cb6e"},
      {Format(L"{:02x}", 10), L"0a"},
      {Format(L"{:02x}", 255), L"ff"},
      {Format(L"{:.1f} MB", 12.34), L"12.3 MB"},
      {Format(L"{:.1f}", 0.05), L"0.1"},  // 0.05 is stored a little above one half of 0.1
      {Format(L"{:.0f}", 1.5), L"2"},
      {Format(L"{:.0f}", 0.4), L"0"},
      {Format(L"{:.0f} of {:.0f}", 99.5, 1000.0), L"100 of 1000"},
      {Format(L"{:5d}|", 42), L"   42|"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(Format, MismatchedPatternsAreProgrammingErrors) {
  EXPECT_THROW(Format(L"{} {}", 1), std::logic_error);
  EXPECT_THROW(Format(L"{}", 1, 2), std::logic_error);
  EXPECT_THROW(Format(L"{:q}", 1), std::logic_error);
  EXPECT_THROW(Format(L"{:.1f}", 1), std::logic_error);
  EXPECT_THROW(Format(L"{:x}", 1.5), std::logic_error);
  EXPECT_THROW(Format(L"{:x}", L"text"), std::logic_error);
  EXPECT_THROW(Format(L"{", 1), std::logic_error);
}

}  // namespace
}  // namespace launcher
