#include "launcher/text/safe_join.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

TEST(SafeJoin, PlacesThePartsUnderTheFolderInOrder) {
  const std::filesystem::path folder = "store";
  EXPECT_EQ(SafeJoin(folder, L"Quellorn.exe"), folder / "Quellorn.exe");
  EXPECT_EQ(SafeJoin(folder, L"data/maps/one two.pak"), folder / "data" / "maps" / "one two.pak");
  EXPECT_EQ(SafeJoin(folder, L"..hidden/a.b.c"), folder / "..hidden" / "a.b.c");
  EXPECT_EQ(SafeJoin(folder, L"console/lpt10/com0/nullable.txt"),
            folder / "console" / "lpt10" / "com0" / "nullable.txt");
  EXPECT_FALSE(SafeJoin(folder, L"caf\u00E9").empty());
}

TEST(SafeJoin, RefusesNamesThatLeaveTheFolderOrReachADevice) {
  const std::wstring refused[] = {
      L"",
      L"/abs",
      L"trailing/",
      L"a//b",
      L".",
      L"..",
      L"a/./b",
      L"a/../../b",
      L"a\\b",
      L"C:",
      L"a:b",
      L"star*",
      L"what?",
      L"quote\"",
      L"less<",
      L"more>",
      L"pipe|",
      L"line\rend",
      L"line\nend",
      std::wstring(L"nul\0byte", 8),
      // Device names, in any case, alone or before a dot, in any folder.
      L"CON",
      L"con",
      L"prn.txt",
      L"Aux.dat",
      L"data/NUL",
      L"nul.tar.gz",
      L"COM1",
      L"com9.bin",
      L"LPT1",
      L"lpt5.log",
      L"CON .txt",
      L"COM\u00B9",
      // Windows drops a trailing dot or space.
      L"name.",
      L"name ",
      L"dir./file",
      L"...",
  };
  for (const auto& name : refused) {
    EXPECT_TRUE(SafeJoin("store", name).empty()) << ::testing::PrintToString(name);
  }
}

}  // namespace
}  // namespace launcher
