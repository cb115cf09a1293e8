#include "launcher/store/update_plan.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "launcher/transfer/sha256.h"

namespace launcher {
namespace {

Listed Entry(const std::string& path, const std::string& content, std::uint64_t size = 0) {
  return {path, DigestOf(content), size > 0 ? size : content.size()};
}

InstalledFile Known(const Listed& entry, bool vouched) {
  return {entry.path, entry.sha256, entry.size, vouched};
}

InstalledFile Unknown(const std::string& path, std::uint64_t size) {
  return {path, std::nullopt, size, false};
}

TEST(PlanUpdate, EachFileTakesTheCheapestWayTheInstalledVersionAllows) {
  const Listed game = Entry("Quellorn.exe", "game");
  const Listed pack = Entry("data/pack.pak", "pack", 20 << 20);
  const Listed moved = Entry("video/intro.bik", "intro", 1 << 20);
  const Listed fresh = Entry("data/new.pak", "new");
  const std::vector<ChunkedFile> index = {{pack.path, pack.sha256, pack.size, {}}};
  // A script the server has patches for from its last two versions, the older one the larger.
  const Listed script = Entry("scripts/main.lua", "script 3", 1 << 20);
  const Listed oneBehind = Entry(script.path, "script 2", 1 << 20);
  const Listed twoBehind = Entry(script.path, "script 1", 1 << 20);
  const Listed olderPack = Entry(pack.path, "older pack", 20 << 20);
  std::vector<StoredContent> stored = {
      {script.sha256,
       StoredForm{DigestOf("packed"), 300000},
       {{oneBehind.sha256, oneBehind.size, {DigestOf("p2"), 900}},
        {twoBehind.sha256, twoBehind.size, {DigestOf("p1"), 1500}}}},
      {pack.sha256, std::nullopt, {{olderPack.sha256, olderPack.size, {DigestOf("pp"), 4000}}}}};
  std::sort(stored.begin(), stored.end(),
            [](const auto& a, const auto& b) { return a.content < b.content; });
  struct Row {
    const char* name;
    std::vector<InstalledFile> installed;
    std::vector<Listed> listed;
    std::vector<PlannedFile> expected;  // empty: by the archive
  };
  const std::vector<Row> rows = {
      {"nothing installed: the archive", {}, {game, fresh}, {}},
      {"vouched for: linked; the same content elsewhere, copied",
       {Known(game, true), Known(moved, false)},
       {game, Entry("video/renamed.bik", "intro", 1 << 20)},
       {{FileWay::Link, 0}, {FileWay::Copy, 1}}},
      {"of several of one content, the one vouched for",
       {Known(Entry("a", "intro", 1 << 20), false), Known(Entry("b", "intro", 1 << 20), true),
        Known(game, false)},
       {moved, game},
       {{FileWay::Link, 1}, {FileWay::Copy, 2}}},
      {"unknown content: only at its own path with its own size",
       {Unknown("Quellorn.exe", 4), Unknown("video/intro.bik", 7), Unknown("data/new.pak", 3)},
       {game, moved, Entry("data/New.pak", "new")},
       {{FileWay::Copy, 0}, {FileWay::Fetch, 0}, {FileWay::Fetch, 0}}},
      {"a changed large file by chunks of the installed one at its path",
       {Known(game, true), Known(Entry(pack.path, "old pack", 20 << 20), true)},
       {game, pack},
       {{FileWay::Link, 0}, {FileWay::Chunks, 1}}},
      // Chunks alone, nothing kept: still cheaper than the archive.
      {"chunks alone", {Unknown(pack.path, 1)}, {pack}, {{FileWay::Chunks, 0}}},
      {"nothing kept, no chunks: the archive", {Known(game, true)}, {fresh}, {}},
      {"two releases behind: the patch from its own version",
       {Known(twoBehind, true)},
       {script},
       {{FileWay::Patch, 0}}},
      {"of the patches whose base is installed, the smallest, wherever that file lies",
       {Known(twoBehind, false), Known(Entry("backup/main.lua", "script 2", 1 << 20), false)},
       {script},
       {{FileWay::Patch, 1}}},
      {"a patch before the chunks", {Known(olderPack, true)}, {pack}, {{FileWay::Patch, 0}}},
      {"no patch from a file of unknown content",
       {Known(game, true), Unknown(script.path, 5)},
       {game, script},
       {{FileWay::Link, 0}, {FileWay::Fetch, 0}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const UpdatePlan plan = PlanUpdate(row.installed, row.listed, index, 100 << 20, stored);
    EXPECT_EQ(plan.byArchive, row.expected.empty());
    ASSERT_EQ(plan.files.size(), row.expected.size());
    for (std::size_t i = 0; i < row.expected.size(); ++i) {
      EXPECT_EQ(plan.files[i].way, row.expected[i].way) << i;
      if (row.expected[i].way != FileWay::Fetch) {
        EXPECT_EQ(plan.files[i].source, row.expected[i].source) << i;
      }
      if (row.expected[i].way == FileWay::Patch) {
        EXPECT_EQ(plan.files[i].patch->base, row.installed[plan.files[i].source].sha256) << i;
      }
    }
  }
}

// With the chunks its record keeps, what a large file lacks is known unread: the estimate counts
// it, and a file that holds none of them is fetched whole. Unrecorded, only reading it tells.
TEST(PlanUpdate, ARecordedFilesChunksTellWhatItLacks) {
  const Listed pack = Entry("data/pack.pak", "pack", 20 << 20);
  const ChunkedFile wanted{pack.path,
                           pack.sha256,
                           pack.size,
                           {{DigestOf("a"), 0, 10 << 20}, {DigestOf("b"), 10 << 20, 10 << 20}}};
  const std::vector<Chunk> half = {{DigestOf("a"), 0, 10 << 20},
                                   {DigestOf("c"), 10 << 20, 10 << 20}};
  const std::vector<Chunk> none = {{DigestOf("d"), 0, 10 << 20},
                                   {DigestOf("c"), 10 << 20, 10 << 20}};
  struct Row {
    const char* name;
    const std::vector<Chunk>* recorded;
    FileWay way;
    std::uint64_t estimate;
  };
  for (const Row& row :
       {Row{"half of them held", &half, FileWay::Chunks, (10 << 20) + kPerFileOverhead},
        Row{"none held", &none, FileWay::Fetch, (20 << 20) + kPerFileOverhead},
        Row{"unrecorded", nullptr, FileWay::Chunks, kPerFileOverhead}}) {
    SCOPED_TRACE(row.name);
    const Listed game = Entry("Quellorn.exe", "game");
    InstalledFile old = Known(Entry(pack.path, "old pack", 20 << 20), true);
    old.chunks = row.recorded;
    const UpdatePlan plan =
        PlanUpdate({Known(game, true), old}, {game, pack}, {wanted}, std::uint64_t{1} << 30);
    ASSERT_EQ(plan.files.size(), 2u);
    EXPECT_EQ(plan.files[1].way, row.way);
    EXPECT_EQ(plan.estimate, row.estimate);
  }
}

TEST(PlanUpdate, TheArchiveIsTakenOnceFetchingComesToSixtyPercentOfIt) {
  const Listed kept = Entry("Quellorn.exe", "game");
  const std::vector<InstalledFile> installed = {Known(kept, true)};
  // One file of 536,000 bytes and the overhead is 601,536: 60 % of an archive of 1,002,560.
  const std::vector<Listed> listed = {kept, Entry("data/new.pak", "new", 536000)};
  EXPECT_TRUE(PlanUpdate(installed, listed, {}, 1002560).byArchive);
  EXPECT_FALSE(PlanUpdate(installed, listed, {}, 1002561).byArchive);
  EXPECT_TRUE(ArchiveIsCheaper(std::uint64_t(-1), std::uint64_t(-1)));  // no product overflows
  EXPECT_FALSE(ArchiveIsCheaper(0, 1));
}

TEST(PlannedDownloads, EachContentOnceAndAChunkedFileByWhatItLacks) {
  const Listed pack = Entry("data/pack.pak", "pack", 20 << 20);
  const ChunkedFile wanted{pack.path,
                           pack.sha256,
                           pack.size,
                           {{DigestOf("a"), 0, 10 << 20}, {DigestOf("b"), 10 << 20, 10 << 20}}};
  const ChunkedFile held{pack.path,
                         DigestOf("old"),
                         20 << 20,
                         {{DigestOf("a"), 0, 10 << 20}, {DigestOf("c"), 10 << 20, 10 << 20}}};
  const std::vector<InstalledFile> installed = {
      Known(Entry("Quellorn.exe", "game"), true),
      Unknown(pack.path, 19 << 20)};  // another size: not kept
  const std::vector<Listed> listed = {Entry("Quellorn.exe", "game"), pack, Entry("one.txt", "same"),
                                      Entry("two.txt", "same")};
  // The copied text is stored packed, in 3 bytes.
  const std::vector<StoredContent> stored = {{DigestOf("same"), StoredForm{DigestOf("z"), 3}, {}}};
  const UpdatePlan plan = PlanUpdate(installed, listed, {wanted}, 1 << 30, stored);
  ASSERT_FALSE(plan.byArchive);
  const auto downloads = PlannedDownloads(
      plan, installed, listed, {wanted},
      [&](const ChunkedFile& file, const InstalledFile&) { return MissingChunkBytes(file, held); },
      stored);
  const std::vector<std::optional<std::uint64_t>> expected = {std::nullopt, 10 << 20, 3,
                                                              std::nullopt};
  EXPECT_EQ(downloads, expected);
}

}  // namespace
}  // namespace launcher
