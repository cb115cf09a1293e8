#include "launcher/text/text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/temporary_folder.h"

namespace launcher {
namespace {

// wchar_t is UTF-16 on Windows and UTF-32 on Linux: a character beyond the Basic Multilingual
// Plane is one unit there and a surrogate pair here.
std::wstring Astral(char32_t c) {
  if constexpr (sizeof(wchar_t) == 2) {
    c -= 0x10000;
    return {static_cast<wchar_t>(0xD800 + (c >> 10)), static_cast<wchar_t>(0xDC00 + (c & 0x3FF))};
  } else {
    return std::wstring(1, static_cast<wchar_t>(c));
  }
}

TEST(Widen, DecodesValidUtf8AndRoundTrips) {
  struct Case {
    std::string utf8;
    std::wstring wide;
  };
  const Case cases[] = {
      {"", L""},
      {"plain ASCII", L"plain ASCII"},
      {std::string("nul\0inside", 10), std::wstring(L"nul\0inside", 10)},
      {"caf\xC3\xA9", L"caf\u00E9"},
      {"\xE2\x80\xA6", L"\u2026"},
      {"\xEF\xBF\xBD", L"\uFFFD"},
      {"\xF0\x9F\x98\x80", Astral(0x1F600)},
      {"\xF4\x8F\xBF\xBF", Astral(0x10FFFF)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Widen(c.utf8), c.wide) << c.utf8;
    EXPECT_EQ(Narrow(c.wide), c.utf8) << c.utf8;
  }
}

TEST(Widen, ReplacesInvalidBytesWithReplacementCharacters) {
  // Only cases in which Windows' decoder and ours agree on the number of replacements.
  struct Case {
    std::string utf8;
    std::wstring wide;
  };
  const Case cases[] = {
      {"\xFF", L"\uFFFD"},
      {"a\x80z", L"a\uFFFDz"},
      {"\xC0\x80", L"\uFFFD\uFFFD"},  // overlong form of U+0000
      {"\xE2\x82", L"\uFFFD"},        // cut short at the end
      {"\xE2\x82z", L"\uFFFDz"},      // cut short before ASCII
      {"\xF0\x9F\x98x", L"\uFFFDx"},
      {"\xC3", L"\uFFFD"},
      {"\xF8\x88\x80\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},  // old five-byte form
  };
  for (const auto& c : cases) EXPECT_EQ(Widen(c.utf8), c.wide) << testing::PrintToString(c.utf8);
}

TEST(Widen, EncodedSurrogatesAndValuesBeyondUnicodeNeverSurvive) {
  for (const std::string bad :
       {"\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xE0\x80\x80"}) {
    const std::wstring wide = Widen(bad);
    ASSERT_FALSE(wide.empty());
    for (const wchar_t unit : wide) EXPECT_EQ(unit, L'\uFFFD') << testing::PrintToString(bad);
  }
}

TEST(Narrow, ReplacesLoneSurrogates) {
  const wchar_t high = static_cast<wchar_t>(0xD800);
  const wchar_t low = static_cast<wchar_t>(0xDC00);
  EXPECT_EQ(Narrow(std::wstring{high}), "\xEF\xBF\xBD");
  EXPECT_EQ(Narrow(std::wstring{low}), "\xEF\xBF\xBD");
  EXPECT_EQ(Narrow(std::wstring{high, L'a', low}),
            "\xEF\xBF\xBD"
            "a"
            "\xEF\xBF\xBD");
  EXPECT_EQ(Narrow(std::wstring{low, high}), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Lowercase, LowersOnlyAsciiLetters) {
  EXPECT_EQ(Lowercase(L"ABCxyz-0.9Z"), L"abcxyz-0.9z");
  EXPECT_EQ(Lowercase(L"\u00C9T\u00C9 \u0130"), L"\u00C9t\u00C9 \u0130");
  EXPECT_EQ(Lowercase(L"@[`{"), L"@[`{");  // the neighbours of A-Z and a-z
  EXPECT_EQ(Lowercase(L""), L"");
}

TEST(PathFromWide, NonAsciiNamesReachTheFileSystemAndComeBack) {
  const support::TemporaryFolder folder;
  const std::wstring name = L"Pr\u00E9-\u65E5\u672C" + Astral(0x1F600) + L".txt";
  const auto file = folder.path() / PathFromWide(name);
  std::ofstream(file) << "x";
  ASSERT_TRUE(std::filesystem::exists(file));
  const auto listed = std::filesystem::directory_iterator(folder.path())->path().filename();
  EXPECT_EQ(WideFromPath(listed), name);
  // On Linux the bytes on disk are UTF-8, not whatever the locale would make of them.
  if constexpr (sizeof(wchar_t) == 4) {
    EXPECT_EQ(listed.native(), Narrow(name));
  }
}

}  // namespace
}  // namespace launcher
