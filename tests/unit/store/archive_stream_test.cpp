#include "launcher/store/archive_stream.h"

#include <gtest/gtest.h>

#include "launcher/store/zstd_unpack.h"
#include "launcher/text/failure.h"
#include "launcher/transfer/sha256.h"
#include "support/random_bytes.h"
#include "support/system_tar.h"
#include "support/tar_writer.h"
#include "support/temporary_folder.h"
#include "tools/publish/server/zstd_pack.h"

namespace launcher {
namespace {

using support::MakeTar;
using support::TarEntry;

Listed ListedAs(const std::string& path, const std::string& content) {
  return {path, DigestOf(content), content.size()};
}

std::string PaxRecord(const std::string& key, const std::string& value) {
  const std::string record = " " + key + "=" + value + "\n";
  std::size_t length = record.size() + 1;
  while (std::to_string(length).size() + record.size() != length) ++length;
  return std::to_string(length) + record;
}

// What the system's tar makes of an archive that the stream lets through, and which entries it
// refuses before tar sees them.
TEST(ArchiveStream, EveryEntryIsLookedAtBeforeTarSeesIt) {
  support::ProvideSystemTar();
  const TarEntry game{"Quellorn.exe", "game"};
  const TarEntry pack{"data/a.pak", "a"};
  const std::vector<Listed> list = {ListedAs("Quellorn.exe", "game"), ListedAs("data/a.pak", "a")};
  const std::string archive = MakeTar({game, {"data", "", '5'}, pack});
  const std::size_t half = archive.size() / 2;
  const std::uint64_t mebibyte = 1 << 20;
  // Twenty pax headers of 60 KiB before a listed file: more than the list can explain.
  std::vector<TarEntry> padded;
  for (int i = 0; i < 20; ++i)
    padded.push_back({"pax", PaxRecord("comment", std::string(61440, 'c')), 'x'});
  padded.push_back(game);
  const std::string framed =
      support::Zstd(archive.substr(0, 700)) + support::Zstd(archive.substr(700));
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<Listed> listed;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pieces;  // offset and length; none: all
    std::wstring failure;  // the detail of the Failure, or its message when it has none
    const char* absent = "data/COM1.dat";  // what tar never wrote
  };
  const std::vector<Case> cases = {
      {"in order", archive, list, {{0, half}, {half, archive.size() - half}}, L""},
      {"gzip'd", support::Gzip(archive), list, {}, L""},
      {"zstd'd in two frames, as they come", framed, list, {{0, 9}, {9, framed.size() - 9}}, L""},
      {"zstd'd, cut inside its frame",
       support::Zstd(archive).substr(0, support::Zstd(archive).size() - 3),
       list,
       {},
       L"The release's archive isn't one"},
      {"zstd'd with a window larger than the launcher allows",
       support::Zstd(archive, 28),
       list,
       {},
       L"The release's archive isn't one"},
      {"without a file list", archive, {}, {}, L""},
      {"started over: what came again is skipped",
       archive,
       list,
       {{0, half}, {0, archive.size()}},
       L""},
      {"resumed: the start never came",
       archive,
       list,
       {{half, archive.size() - half}},
       L"its bytes didn't come in order"},
      {"cut short", archive, list, {{0, half}}, L"its archive ended early"},
      {"not an archive",
       support::RandomBytes(3)(4 * mebibyte),
       {},
       {},
       L"The release's archive isn't one"},
      {"a device name",
       MakeTar({game, {"data/COM1.dat", "serial"}}),
       {},
       {},
       L"its archive holds data/COM1.dat: a name no folder can hold"},
      {"a climbing name",
       MakeTar({game, {"../evil.txt", "x"}}),
       {},
       {},
       L"its archive holds ../evil.txt: a name no folder can hold"},
      {"two letter cases",
       MakeTar({game, {"data/map.pak", "1"}, {"data/Map.pak", "2"}}),
       {},
       {},
       L"its archive holds data/Map.pak: a name twice, in any letter case, or a file where a "
       L"folder "
       L"must be"},
      {"a file where a folder must be",
       MakeTar({game, {"data", "x"}, {"data/b.pak", "b"}}),
       {},
       {},
       L"its archive holds data/b.pak: a name twice, in any letter case, or a file where a folder "
       L"must "
       L"be"},
      {"a link",
       MakeTar({game, {"out", "", '2', "/etc"}}),
       {},
       {},
       L"its archive holds out: a link, a device or another kind of entry a game's folder can't "
       L"hold",
       "out"},
      {"a file the list doesn't name",
       MakeTar({game, pack, {"data/extra.pak", "e"}}),
       list,
       {},
       L"its archive holds data/extra.pak: a file its file list doesn't name",
       "data/extra.pak"},
      {"a file longer than listed",
       MakeTar({game, {"data/a.pak", std::string(100 * mebibyte, 'z')}}),
       list,
       {},
       L"its archive holds data/a.pak: a file of another size than its list names",
       "data/a.pak"},
      {"a folder no listed path leads through",
       MakeTar({game, {"cache", "", '5'}, pack}),
       list,
       {},
       L"its archive holds cache: a folder that no path of its file list leads through",
       "cache"},
      {"more than the list announces",
       MakeTar(padded),
       {list[0]},
       {},
       L"its archive unpacks to more than its file list announces"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    support::TemporaryFolder folder;
    std::wstring failure;
    try {
      ArchiveStream stream(folder.path(), c.listed);
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
      auto pieces = c.pieces;
      if (pieces.empty()) pieces = {{0, c.bytes.size()}};
      for (const auto& [offset, length] : pieces) {
        stream.Add(offset, bytes + offset, static_cast<std::size_t>(length));
      }
      stream.Finish();
    } catch (const Failure& error) {
      failure = error.detail.empty() ? error.message : error.detail;
    }
    EXPECT_EQ(failure, c.failure);
    if (c.failure.empty()) {
      EXPECT_EQ(support::ReadFile(folder.path() / "data/a.pak"), "a");
    } else {
      EXPECT_FALSE(std::filesystem::exists(folder.path() / c.absent));
    }
  }
}

// What the server stores packed is decoded only up to the size it must come to: a frame made to
// expand further stops there, and a patch decodes only against the base it was made from.
TEST(UnpackFile, StopsAtTheListedSizeAndNeedsThePatchsOwnBase) {
  const support::TemporaryFolder folder;
  const std::string content = support::RandomBytes(5)(300000);
  const std::string base = content.substr(1000) + "the installed version's tail";
  const auto packed = folder.Write("packed", support::Zstd(content));
  const auto bomb = folder.Write("bomb", support::Zstd(std::string(64 << 20, 'z')));
  // Whose last output fills the decoder's block exactly.
  const std::string even(1 << 19, 'e');
  const auto evenPacked = folder.Write("even", support::Zstd(even));
  const auto patch = folder.Write("patch", publish::PackBytes(content, base));
  // Large enough to be made on every core.
  const std::string large = support::RandomBytes(6)(publish::kThreadedFrom + 12345);
  const std::string largeBase = "a header" + large.substr(0, large.size() / 2);
  const auto largePatch = folder.Write("large", publish::PackBytes(large, largeBase));
  const auto plain = folder.path() / "plain";
  struct Row {
    const char* name;
    std::filesystem::path packed;
    std::uint64_t size;
    std::string reference;
    const std::string& whole;  // what the frames hold
    bool makes;                // whether they make it at this size and reference
  };
  for (const Row& row : std::vector<Row>{
           {"a packed blob", packed, content.size(), {}, content, true},
           {"one listed as shorter", packed, content.size() - 1, {}, content, false},
           {"one listed as longer", packed, content.size() + 1, {}, content, false},
           {"a frame that expands past its size", bomb, 1 << 20, {}, content, false},
           {"a patch with its base", patch, content.size(), base, content, true},
           {"a patch with another base", patch, content.size(), base + "!", content, false},
           {"a large patch", largePatch, large.size(), largeBase, large, true},
           {"one that ends where a block of output does", evenPacked, even.size(), {}, even, true},
       }) {
    SCOPED_TRACE(row.name);
    const std::optional<Digest> made = UnpackFile(row.packed, plain, row.size, row.reference);
    EXPECT_EQ(made == DigestOf(row.whole), row.makes);
    EXPECT_EQ(std::filesystem::exists(plain), made.has_value());
    std::filesystem::remove(plain);
  }
  EXPECT_EQ(UnpackBytes(support::ReadFile(bomb), 1 << 20), std::nullopt);
  EXPECT_EQ(UnpackBytes(support::Zstd(content), content.size()), content);
  // Frame by frame into blocks of their own, sizes told or not (the second frame's isn't); no
  // blocks at all when any frame is cut short, or they come to more than allowed.
  const std::string framed =
      support::Zstd("first ") + support::Zstd("second", 10) + support::Zstd("third");
  using Blocks = std::optional<std::vector<std::string>>;
  EXPECT_EQ(UnpackFrames(framed, 17), (Blocks{{"first ", "second", "third"}}));
  EXPECT_EQ(UnpackFrames(framed, 16), std::nullopt);
  EXPECT_EQ(UnpackFrames(framed.substr(0, framed.size() - 1), 100), std::nullopt);
  EXPECT_EQ(UnpackFrames(support::ReadFile(bomb), 1 << 20), std::nullopt);
  EXPECT_EQ(UnpackFrames("", 100), std::nullopt);
}

}  // namespace
}  // namespace launcher
