#include "tools/publish/server/tar_follower.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "support/random_bytes.h"
#include "support/tar_writer.h"

namespace launcher::publish {
namespace {

using support::MakeTar;
using support::TarEntry;

std::string PaxPath(const std::string& path) {
  const std::string record = " path=" + path + "\n";
  std::size_t length = record.size() + 1;
  while (std::to_string(length).size() + record.size() != length) ++length;
  return std::to_string(length) + record;
}

TEST(TarFollower, TakesEachFileAskedForAndNothingElse) {
  support::RandomBytes noise(3);
  const std::string pack = noise(70000);
  const std::string longName = "data/" + std::string(120, 'n') + ".pak";
  const TarEntry readme{"readme.txt", "hello"};
  const TarEntry packed{"data/pack.pak", pack};
  const TarEntry empty{"empty.txt", ""};
  const std::vector<TarEntry> asked = {readme, packed, empty};
  std::string damaged = MakeTar({readme, packed, empty});
  damaged[3] = 'D';  // in the first name: its checksum no longer holds
  const std::string whole = MakeTar({readme, packed, empty});
  struct Case {
    const char* what;
    std::string archive;
    std::vector<TarEntry> asked;  // names, and the bytes each must be given
    bool whole;
  };
  const Case cases[] = {
      {"as asked", whole, asked, true},
      {"a GNU long name",
       MakeTar({{"././@LongLink", longName + '\0', 'L'}, {longName, pack}}),
       {{longName, pack}},
       true},
      {"a pax path",
       MakeTar({{"PaxHeader", PaxPath(longName), 'x'}, {longName, pack}}),
       {{longName, pack}},
       true},
      {"a folder between", MakeTar({readme, {"data/", "", '5'}, packed, empty}), asked, false},
      {"a hard link", MakeTar({readme, packed, {"empty.txt", "", '1', "readme.txt"}}), asked,
       false},
      {"another order", MakeTar({packed, readme, empty}), asked, false},
      {"a file not asked for", MakeTar({readme, packed, empty, {"extra", "x"}}), asked, false},
      {"a file missing", MakeTar({readme, packed}), asked, false},
      {"a long name for no file", MakeTar({readme, packed, empty, {"././@LongLink", "x", 'L'}}),
       asked, false},
      {"cut before its end", whole.substr(0, whole.size() - 1024), asked, false},
      {"a damaged header", damaged, asked, false},
  };
  for (const Case& c : cases) {
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{511}, std::size_t{4097}, c.archive.size()}) {
      SCOPED_TRACE(std::string(c.what) + ", in pieces of " + std::to_string(piece));
      std::map<std::size_t, std::string> given;
      std::vector<std::size_t> ended;
      std::vector<std::string> names;
      for (const TarEntry& entry : c.asked) names.push_back(entry.name);
      TarFollower follower(
          names, [&](std::size_t index, std::string_view bytes) { given[index] += bytes; },
          [&](std::size_t index, const TarFollower::Member& member) {
            ended.push_back(index);
            EXPECT_EQ(member.size, given[index].size());
            EXPECT_EQ(member.sha256, DigestOf(given[index]));
          });
      for (std::size_t at = 0; at < c.archive.size(); at += piece) {
        follower.Take(c.archive.data() + at, std::min(piece, c.archive.size() - at));
      }
      EXPECT_EQ(follower.Whole(), c.whole);
      if (!c.whole) continue;
      ASSERT_EQ(follower.Members().size(), c.asked.size());
      ASSERT_EQ(ended.size(), c.asked.size());
      for (std::size_t i = 0; i < c.asked.size(); ++i) {
        EXPECT_EQ(ended[i], i);
        EXPECT_EQ(given[i], c.asked[i].content);
        EXPECT_EQ(follower.Members()[i].sha256, DigestOf(c.asked[i].content));
      }
    }
  }
}

}  // namespace
}  // namespace launcher::publish
