#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>

#include "launcher/platform/file_stamp.h"
#include "launcher/store/chunk_file.h"
#include "launcher/store/chunked_fetch.h"
#include "launcher/store/client_store.h"
#include "launcher/store/download_pool.h"
#include "launcher/store/file_staging.h"
#include "launcher/store/kept_files.h"
#include "launcher/store/version_record.h"
#include "launcher/text/failure.h"
#include "launcher/text/text.h"
#include "launcher/transfer/sha256.h"
#include "support/failure_of.h"
#include "support/random_bytes.h"
#include "support/scoped_transfers.h"
#include "support/scripted_server.h"
#include "support/system_tar.h"
#include "support/tar_writer.h"
#include "support/temporary_folder.h"

namespace launcher {
namespace {

using support::FileFaults;
using support::ReadFile;
using support::ServeFile;
using support::TarEntry;
using Report = std::tuple<Stage, std::uint64_t, std::uint64_t>;

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override { support::ProvideSystemTar(); }

  Release PublishArchive(const std::string& version, const std::vector<TarEntry>& entries,
                         FileFaults faults = {}) {
    const std::string archive = support::MakeTar(entries);
    const std::string file = "Quellorn-" + version + ".tar";
    server_.Route("/" + file, ServeFile(archive, faults));
    return {Widen(version), Widen(file), Sha256Hex(archive), archive.size()};
  }

  Listed PublishFile(const std::string& path, const std::string& content) {
    const Listed listed{path, DigestOf(content), content.size()};
    server_.Route("/files/" + listed.sha256.Text() + ".bin", ServeFile(content));
    return listed;
  }

  // A complete version folder, made current.
  void MakeCurrent(const std::string& version, const std::map<std::string, std::string>& files) {
    for (const auto& [path, content] : files) Write(version + "/" + path, content);
    Write("current.txt", version);
  }

  void Write(const std::string& relative, const std::string& content) const {
    folder_.Write(std::filesystem::path("My Games/Client") / relative, content);
  }
  bool Exists(const std::string& relative) const {
    return std::filesystem::exists(store_.root / relative);
  }
  std::string Read(const std::string& relative) const { return ReadFile(store_.root / relative); }

  std::wstring Run(const Release& release, const std::vector<Listed>& listed = {},
                   const std::vector<ChunkedFile>& chunks = {},
                   const std::vector<StoredContent>& stored = {}) {
    reports_.clear();
    return support::FailureOf([&] {
      store_.Install(
          release, server_.Url("/"), listed,
          [this](Stage stage, std::uint64_t done, std::uint64_t total) {
            reports_.emplace_back(stage, done, total);
            if (onReport_) onReport_(stage);
          },
          chunks, options_, {}, stored);
    });
  }

  FileStamp Stamp(const std::string& relative) const {
    return StampOf(store_.root / relative, true).value_or(FileStamp{});
  }

  std::vector<std::string> RequestedPaths() const {
    std::vector<std::string> paths;
    for (const auto& request : server_.Requests()) paths.push_back(request.path);
    return paths;
  }

  support::ScriptedServer server_;
  support::TemporaryFolder folder_;
  ClientStore store_{folder_.path() / "My Games" / "Client"};  // a root with a space in it
  std::vector<Report> reports_;
  std::function<void(Stage)> onReport_;
  InstallOptions options_;
};

const std::vector<TarEntry> kGame = {{"Quellorn.exe", "the game"},
                                     {"data", "", '5'},
                                     {"data/maps", "", '5'},
                                     {"data/maps/one.pak", std::string(70000, 'm')}};

TEST_F(InstallTest, ArchivePathInstallsAndNamesTheVersionCurrent) {
  const Release release = PublishArchive("1.0.0", kGame);
  EXPECT_EQ(Run(release), L"");
  EXPECT_EQ(store_.Current(), L"1.0.0");
  EXPECT_EQ(Read("1.0.0/Quellorn.exe"), "the game");
  EXPECT_EQ(Read("1.0.0/data/maps/one.pak").size(), 70000u);
  EXPECT_FALSE(Exists("1.0.0.download"));
  EXPECT_FALSE(Exists("1.0.0.partial"));
  // The download's bytes, then the unpacking, which has no counts.
  ASSERT_GE(reports_.size(), 2u);
  EXPECT_EQ(reports_.back(), Report(Stage::Unpacking, 0, 0));
  reports_.pop_back();
  for (const auto& [stage, done, total] : reports_) {
    EXPECT_EQ(stage, Stage::Downloading);
    EXPECT_EQ(total, release.size);
  }
  EXPECT_EQ(reports_.back(), Report(Stage::Downloading, release.size, release.size));
}

TEST_F(InstallTest, FailuresLeaveThePreviousVersionCurrent) {
  MakeCurrent("0.9.0", {{"Quellorn.exe", "old game"}});
  const Release noGame = PublishArchive("1.0.0", {{"readme.txt", "no game here"}});
  EXPECT_EQ(Run(noGame), L"The release holds no Quellorn.exe");
  EXPECT_FALSE(Exists("1.0.0.partial"));

  // Bytes that are the promised release but no archive; an earlier attempt's staging goes too.
  const std::string damaged = "this is not an archive at all";
  server_.Route("/damaged.tar", ServeFile(damaged));
  Write("1.1.0.partial/from-an-earlier-attempt.txt", "x");
  EXPECT_EQ(Run({L"1.1.0", L"damaged.tar", Sha256Hex(damaged), damaged.size()}),
            L"The release couldn't be unpacked");
  EXPECT_FALSE(Exists("1.1.0.partial/from-an-earlier-attempt.txt"));
  EXPECT_TRUE(Exists("1.1.0.download"));  // complete: the next attempt needs no request

  // An archive unpacked whole as it arrived, whose digest then isn't the feed's: what tar made
  // goes with it.
  const std::string other = support::MakeTar({{"Quellorn.exe", "not the release"}});
  server_.Route("/other.tar", ServeFile(other));
  EXPECT_TRUE(Run({L"1.1.1", L"other.tar", std::wstring(64, L'a'), other.size()})
                  .starts_with(L"The download isn't the release"));
  EXPECT_FALSE(Exists("1.1.1.partial"));

  const Release unusable{L"1.2 beta", L"x.tar", std::wstring(64, L'a'), 10};
  EXPECT_EQ(Run(unusable), L"The update server names a release that can't be kept");
  EXPECT_EQ(store_.Current(), L"0.9.0");
  EXPECT_EQ(Read("current.txt"), "0.9.0");
}

TEST_F(InstallTest, AnUnusableReleaseTouchesNothing) {
  EXPECT_EQ(Run({L"1.0.0", L"", std::wstring(64, L'a'), 10}),
            L"The update server names a release that can't be kept");
  EXPECT_FALSE(std::filesystem::exists(store_.root));
}

TEST_F(InstallTest, NothingThatIsntTheReleaseBecomesCurrent) {
  const std::map<std::string, std::string> installed = {{"Quellorn.exe", "old game"},
                                                        {"data/a.pak", "kept"}};
  const Listed game = PublishFile("Quellorn.exe", "the game");
  const Listed missing = PublishFile("data/b.pak", "not in the archive");
  const Listed pack = PublishFile("data/maps/one.pak", std::string(70000, 'm'));
  const std::uint64_t half = std::uint64_t{1} << 63;
  struct Case {
    std::string version;
    std::vector<Listed> listed;
    std::wstring failure;
  };
  const Case cases[] = {
      // Names Windows would rewrite or open as a device, and the store's own names.
      {"1.1.", {}, L"The update server names a release that can't be kept"},
      {"nul", {}, L"The update server names a release that can't be kept"},
      {"COM1.0", {}, L"The update server names a release that can't be kept"},
      {"1.0.0.partial", {}, L"The update server names a release that can't be kept"},
      {"current.txt", {}, L"The update server names a release that can't be kept"},
      // An archive that lacks a listed file, or holds one at another size (which tar never
      // gets to write).
      {"1.1.0", {game, pack, missing}, L"The release's data/b.pak didn't arrive"},
      {"1.1.0", {{"Quellorn.exe", game.sha256, 7}, pack}, L"The release couldn't be unpacked"},
      // Sizes whose sum doesn't fit 64 bits: no wrapped sum lets the install start.
      {"1.1.0", {{"x", game.sha256, half}, {"y", game.sha256, half}}, L"There isn't enough"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version + " " + std::to_string(c.listed.size()));
    std::filesystem::remove_all(store_.root);
    MakeCurrent("1.0.0", installed);
    Write("0.9.0.partial/left.pak", "an older attempt");  // removed before the install starts
    const std::wstring failure = Run(PublishArchive(c.version, kGame), c.listed);
    EXPECT_TRUE(failure.starts_with(c.failure)) << Narrow(failure);
    EXPECT_EQ(store_.Current(), L"1.0.0");
    for (const auto& [path, content] : installed) EXPECT_EQ(Read("1.0.0/" + path), content);
    for (const auto& entry : std::filesystem::directory_iterator(store_.root)) {
      const std::string name = entry.path().filename().string();
      // A refused name touches nothing; an install that starts first clears older leftovers.
      const bool refused = c.failure.starts_with(L"The update server names");
      EXPECT_TRUE(name == "1.0.0" || name == "current.txt" || name.ends_with(".download") ||
                  (refused && name == "0.9.0.partial"))
          << name;
    }
    // Nothing lands beside the store either.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path() / "My Games"),
                            std::filesystem::directory_iterator()),
              1);
  }
}

TEST_F(InstallTest, AnOldFolderOfTheSameVersionIsReplaced) {
  Write("1.0.0/left-from-before.txt", "x");
  EXPECT_EQ(Run(PublishArchive("1.0.0", kGame)), L"");
  EXPECT_FALSE(Exists("1.0.0/left-from-before.txt"));
  EXPECT_TRUE(Exists("1.0.0/Quellorn.exe"));
}

TEST_F(InstallTest, FileByFileKeepsWhatHasntChangedAndFetchesTheRest) {
  const std::string same(5000, 's');
  MakeCurrent("1.0.0", {{"Quellorn.exe", "game 1"},
                        {"data/same.pak", same},
                        {"data/changed.pak", "old and short"},
                        {"data/same-size.pak", std::string(3000, 'o')}});
  Write("1.1.0.partial/data/staged.pak", "staged before");
  Write("1.1.0.partial/data/same.pak.part", "left by an older launcher");
  Write("1.1.0.partial/stray.txt", "not listed");
  std::vector<Listed> listed = {
      PublishFile("Quellorn.exe", "game 1"),  // same size and bytes: kept
      PublishFile("data/same.pak", same),
      PublishFile("data/changed.pak", "new and a good deal longer"),
      PublishFile("data/same-size.pak", std::string(3000, 'n')),
      PublishFile("data/staged.pak", "staged before"),
  };
  // Enough candidates of the listed size for every copier, every other one changed.
  std::vector<Listed> changedAlike;
  for (int i = 0; i < 24; ++i) {
    const std::string path = "data/many/" + std::to_string(i) + ".pak";
    Write("1.0.0/" + path, std::string(100 + i, 'o'));
    listed.push_back(PublishFile(path, std::string(100 + i, i % 2 == 0 ? 'o' : 'n')));
    if (i % 2 == 1) changedAlike.push_back(listed.back());
  }
  const std::filesystem::path cut = PartFileOf("1.1.0.parts", listed[2].sha256);
  Write(cut.generic_string(), "new and a g");  // resumed
  Release release = PublishArchive("1.1.0", kGame);
  release.size = 10'000'000;  // far more than the files to fetch: file by file wins
  ASSERT_EQ(Run(release, listed), L"");
  for (const auto& request : server_.Requests()) {
    if (request.path == "/files/" + listed[2].sha256.Text() + ".bin") {
      EXPECT_EQ(request.Header("range"), "bytes=11-");
    }
  }
  EXPECT_FALSE(Exists("1.1.0.parts"));

  EXPECT_EQ(store_.Current(), L"1.1.0");
  for (const Listed& entry : listed) {
    EXPECT_EQ(DigestOf(Read("1.1.0/" + entry.path)), entry.sha256) << entry.path;
  }
  EXPECT_FALSE(Exists("1.1.0/stray.txt"));
  EXPECT_FALSE(Exists("1.1.0/data/same.pak.part"));
  // Only the changed file and those whose bytes differ at the same size were fetched.
  std::vector<std::string> expected = {"/files/" + listed[2].sha256.Text() + ".bin",
                                       "/files/" + listed[3].sha256.Text() + ".bin"};
  for (const Listed& entry : changedAlike)
    expected.push_back("/files/" + entry.sha256.Text() + ".bin");
  auto requested = RequestedPaths();
  std::sort(requested.begin(), requested.end());
  auto sortedExpected = expected;
  std::sort(sortedExpected.begin(), sortedExpected.end());
  EXPECT_EQ(requested, sortedExpected);

  // Keeping reports up to everything kept, then one (0, to fetch), then the downloads.
  std::uint64_t keptTotal = 6 + 5000 + 3000;
  std::uint64_t fetchTotal = listed[2].size + listed[3].size;
  for (std::size_t i = 5; i < listed.size(); ++i) keptTotal += listed[i].size;
  for (const Listed& entry : changedAlike) fetchTotal += entry.size;
  const auto firstDownload = std::find_if(reports_.begin(), reports_.end(), [](const Report& r) {
    return std::get<0>(r) == Stage::Downloading;
  });
  ASSERT_NE(firstDownload, reports_.begin());
  ASSERT_NE(firstDownload, reports_.end());
  for (auto it = reports_.begin(); it != firstDownload; ++it) {
    EXPECT_EQ(std::get<0>(*it), Stage::Keeping);
    EXPECT_EQ(std::get<2>(*it), keptTotal);
  }
  EXPECT_EQ(std::get<1>(*(firstDownload - 1)), keptTotal);
  EXPECT_EQ(*firstDownload, Report(Stage::Downloading, 0, fetchTotal));
  for (auto it = firstDownload; it != reports_.end(); ++it)
    EXPECT_EQ(std::get<0>(*it), Stage::Downloading);
  EXPECT_EQ(reports_.back(), Report(Stage::Downloading, fetchTotal, fetchTotal));
}

TEST_F(InstallTest, KeptFilesAreFoundByContentAndLinkedWhenTheRecordVouchesForThem) {
  const std::string movie(100000, 'v');
  const std::string pack(3000, 'p');
  const std::map<std::string, std::string> old = {
      {"Quellorn.exe", "game 1"},      {"movies/intro.bik", movie},    {"data/Case.pak", pack},
      {"data/touched.pak", "touched"}, {"data/forged.pak", "genuine"}, {"data/changed.pak", "old"}};
  for (const bool links : {true, false}) {
    SCOPED_TRACE(links ? "linked" : "copied");
    options_.linkKept = links;
    std::filesystem::remove_all(store_.root);
    // 1.0.0 through its archive and list: that writes its record.
    std::vector<TarEntry> entries = {{"movies", "", '5'}, {"data", "", '5'}};
    std::vector<Listed> oldListed;
    for (const auto& [path, content] : old) {
      entries.push_back({path, content});
      oldListed.push_back(PublishFile(path, content));
    }
    ASSERT_EQ(Run(PublishArchive("1.0.0", entries), oldListed), L"");
    ASSERT_TRUE(Exists("1.0.0.record"));
    // Touched: same bytes, a new time, so hashed when kept. Forged: other bytes at the recorded
    // size and time, which the record can't see (that is what a repair hashes for).
    // (A time in whole seconds, which the library sets exactly on both builds, recorded anew.)
    const std::filesystem::path forged = store_.root / "1.0.0/data/forged.pak";
    const auto time = std::chrono::floor<std::chrono::seconds>(last_write_time(forged));
    last_write_time(forged, time);
    ASSERT_TRUE(WriteRecord(store_.root / "1.0.0.record", store_.root / "1.0.0", oldListed));
    Write("1.0.0/data/forged.pak", "GENUINE");
    last_write_time(forged, time);
    std::filesystem::last_write_time(
        store_.root / "1.0.0/data/touched.pak",
        std::filesystem::file_time_type::clock::now() + std::chrono::hours(1));

    const std::vector<Listed> listed = {
        PublishFile("Quellorn.exe", "game 1"),
        PublishFile("video/intro-renamed.bik", movie),  // moved and renamed
        PublishFile("video/intro-again.bik", movie),    // the same bytes listed twice
        PublishFile("data/case.pak", pack),             // another letter case
        PublishFile("data/touched.pak", "touched"),
        PublishFile("data/forged.pak", "genuine"),
        PublishFile("data/changed.pak", "new"),
    };
    Release release = PublishArchive("1.1.0", kGame);
    release.size = 10'000'000;
    const std::size_t before = server_.Requests().size();
    ASSERT_EQ(Run(release, listed), L"");
    EXPECT_EQ(store_.Current(), L"1.1.0");
    // Of the kept contents nothing is fetched but the changed file and, when copying hashes it,
    // the forged one.
    std::set<std::string> fetched;
    for (std::size_t i = before; i < server_.Requests().size(); ++i) {
      fetched.insert(server_.Requests()[i].path);
    }
    std::set<std::string> expected = {"/files/" + listed[6].sha256.Text() + ".bin"};
    if (!links) expected.insert("/files/" + listed[5].sha256.Text() + ".bin");
    EXPECT_EQ(fetched, expected);

    // Linked files are the old version's own; a file whose time changed is a verified copy.
    for (const auto& [now, was] : std::vector<std::pair<std::string, std::string>>{
             {"Quellorn.exe", "Quellorn.exe"},
             {"video/intro-renamed.bik", "movies/intro.bik"},
             {"video/intro-again.bik", "movies/intro.bik"},
             {"data/case.pak", "data/Case.pak"},
             {"data/forged.pak", "data/forged.pak"}}) {
      EXPECT_EQ(Stamp("1.1.0/" + now).index == Stamp("1.0.0/" + was).index, links) << now;
    }
    EXPECT_EQ(Stamp("1.0.0/movies/intro.bik").links, links ? 3u : 1u);
    EXPECT_NE(Stamp("1.1.0/data/touched.pak").index, Stamp("1.0.0/data/touched.pak").index);
    EXPECT_EQ(Read("1.1.0/data/forged.pak"), links ? "GENUINE" : "genuine");
    EXPECT_EQ(Read("1.1.0/video/intro-again.bik"), movie);
    EXPECT_EQ(ReadRecord(store_.root / "1.1.0.record").size(), listed.size());
  }
}

TEST_F(InstallTest, ALinkedFileWrittenToBeforeTheSwitchIsFetchedAfresh) {
  const Listed game = PublishFile("Quellorn.exe", "game 1");
  ASSERT_EQ(Run(PublishArchive("1.0.0", {{"Quellorn.exe", "game 1"}}), {game}), L"");
  const std::vector<Listed> listed = {game, PublishFile("data/new.pak", "new")};
  Release release = PublishArchive("1.1.0", kGame);
  release.size = 10'000'000;
  // The old version, still running, writes into its executable while the update downloads.
  onReport_ = [this](Stage stage) {
    if (stage == Stage::Downloading) {
      std::ofstream(store_.root / "1.0.0/Quellorn.exe", std::ios::binary) << "patched by itself";
    }
  };
  ASSERT_EQ(Run(release, listed), L"");
  EXPECT_EQ(Read("1.1.0/Quellorn.exe"), "game 1");
  EXPECT_NE(Stamp("1.1.0/Quellorn.exe").index, Stamp("1.0.0/Quellorn.exe").index);
  EXPECT_EQ(server_.Requests().back().path, "/files/" + game.sha256.Text() + ".bin");
}

// One pack file of random bytes, patched: what the server sends is what the installed pack
// doesn't hold; a server or chunk that fails the patch means the whole file, never a wrong one.
TEST_F(InstallTest, ALargeFileIsBuiltFromTheChunksTheInstalledOneHolds) {
  const std::size_t mebibyte = 1 << 20;
  support::RandomBytes noise(5);
  const std::string pack = noise(12 * mebibyte);
  const std::string replaced =
      pack.substr(0, 6 * mebibyte) + noise(mebibyte) + pack.substr(7 * mebibyte);
  struct Case {
    const char* what;
    std::string edited;
    FileFaults faults;
    std::uint64_t mostByRange;  // 0: the whole file, once chunks have failed
  };
  const Case cases[] = {
      {"1 MiB replaced", replaced, {}, mebibyte + 2 * kLongestChunk},
      {"1 MiB inserted",
       pack.substr(0, 100000) + noise(mebibyte) + pack.substr(100000),
       {},
       mebibyte + 2 * kLongestChunk},
      {"the tail cut", pack.substr(0, 9 * mebibyte), {}, kLongestChunk},
      // Ranged answers that take their time: the missing chunks are fetched side by side.
      {"most of it new",
       noise(8 * mebibyte) + pack.substr(8 * mebibyte),
       {.stall = std::chrono::milliseconds(50)},
       8 * mebibyte + 2 * kLongestChunk},
      {"nothing in common", noise(12 * mebibyte), {}, 0},
      {"a server that ignores Range", replaced, {.ignoreRange = true}, 0},
      {"chunks that arrive spoilt", replaced, {.spoilRanges = true}, 0},
  };
  const Listed game = PublishFile("Quellorn.exe", "game 1");
  const Listed changedGame = PublishFile("Quellorn.exe", "game 2");
  const Listed installed = PublishFile("data/pack.pak", pack);
  ASSERT_EQ(
      Run(PublishArchive("1.0.0",
                         {{"Quellorn.exe", "game 1"}, {"data", "", '5'}, {"data/pack.pak", pack}}),
          {game, installed}),
      L"");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // 1.0.0 current again: nothing has pruned it.
    store_.NameCurrent(L"1.0.0");
    std::filesystem::remove_all(store_.root / "1.1.0");
    const Listed edited{"data/pack.pak", DigestOf(c.edited), c.edited.size()};
    const std::string blob = "/files/" + edited.sha256.Text() + ".bin";
    server_.Route(blob, ServeFile(c.edited, c.faults));
    const std::optional<ChunkedFile> index =
        ChunkFile(folder_.Write("edited.pak", c.edited), "data/pack.pak");
    ASSERT_TRUE(index);
    Release release = PublishArchive("1.1.0", kGame);
    release.size = 10'000'000;
    const std::size_t before = server_.Requests().size();
    // The executable changes too: nothing is kept whole, yet the pack's chunks are.
    ASSERT_EQ(Run(release, {changedGame, edited}, {*index}), L"");
    EXPECT_EQ(HashFile(store_.root / "1.1.0/data/pack.pak"), edited.sha256);
    std::uint64_t byRange = 0;
    int whole = 0;
    const auto requests = server_.Requests();
    for (std::size_t i = before; i < requests.size(); ++i) {
      if (requests[i].path != blob) continue;
      const auto range = requests[i].Header("range");
      if (!range) {
        ++whole;
        continue;
      }
      const std::size_t dash = range->find('-');
      byRange += std::stoull(range->substr(dash + 1)) - std::stoull(range->substr(6)) + 1;
    }
    if (c.mostByRange > 0) {
      EXPECT_LE(byRange, c.mostByRange);
      EXPECT_EQ(whole, 0);
      // Progress counts the fetched and the taken bytes apart, and they make up the file.
      std::map<Stage, std::uint64_t> last;
      for (const auto& [stage, done, total] : reports_) {
        if (stage == Stage::Taking || stage == Stage::Patching) {
          EXPECT_EQ(total, c.edited.size());
          last[stage] = done;
        }
      }
      EXPECT_EQ(last[Stage::Patching], byRange);
      EXPECT_EQ(last[Stage::Taking] + last[Stage::Patching], c.edited.size());
    } else {
      EXPECT_EQ(whole, 1);
    }
  }
  EXPECT_GE(server_.MostAnswersAtOnce(), 2);
  EXPECT_LE(server_.MostAnswersAtOnce(), static_cast<int>(kChunkFetchers));
}

// A packed blob made of one frame per chunk: the frames of the chunks the installed file lacks
// come by Range, neighbours in one request, each decoded and checked; the raw blob isn't needed.
TEST_F(InstallTest, ALargeFileIsBuiltFromTheFramesOfItsPackedBlob) {
  const std::size_t mebibyte = 1 << 20;
  std::string pack;
  for (std::uint64_t line = 0; pack.size() < 12 * mebibyte; ++line) {
    pack += "line " + std::to_string(line * 7919 % 100003) + " of the structured pack\n";
  }
  std::string edited = pack;
  for (std::size_t at = 5 * mebibyte; at < 6 * mebibyte; at += 64) edited[at] = '#';
  const Listed game = PublishFile("Quellorn.exe", "game 1");
  ASSERT_EQ(
      Run(PublishArchive("1.0.0",
                         {{"Quellorn.exe", "game 1"}, {"data", "", '5'}, {"data/pack.pak", pack}}),
          {game, PublishFile("data/pack.pak", pack)}),
      L"");
  const Listed entry{"data/pack.pak", DigestOf(edited), edited.size()};
  const std::optional<ChunkedFile> index =
      ChunkFile(folder_.Write("edited.pak", edited), "data/pack.pak");
  ASSERT_TRUE(index);
  std::string blob;
  std::vector<std::uint64_t> frames;
  for (const Chunk& chunk : index->chunks) {
    const std::string frame = support::Zstd(edited.substr(chunk.offset, chunk.size));
    blob += frame;
    frames.push_back(frame.size());
  }
  const std::string packedPath = "/files/" + entry.sha256.Text() + ".zst";
  server_.Route(packedPath, ServeFile(blob));
  const std::vector<StoredContent> stored = {
      {entry.sha256, StoredForm{DigestOf(blob), blob.size()}, {}, frames}};
  Release release = PublishArchive("1.1.0", kGame);
  release.size = 10'000'000;
  const std::size_t before = server_.Requests().size();
  ASSERT_EQ(Run(release, {game, entry}, {*index}, stored), L"");
  EXPECT_EQ(HashFile(store_.root / "1.1.0/data/pack.pak"), entry.sha256);
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), before + 1);  // the changed chunks are neighbours: one request
  EXPECT_EQ(requests.back().path, packedPath);
  const auto range = requests.back().Header("range");
  ASSERT_TRUE(range);
  const std::size_t dash = range->find('-');
  EXPECT_LT(std::stoull(range->substr(dash + 1)) - std::stoull(range->substr(6)) + 1, mebibyte);
}

// A version installed with its chunk index records its large files' chunks: an update takes the
// kept chunks by the record (each checked as it is copied) instead of cutting the file again. A
// file rewritten with the same stamp fails that check and is fetched whole; one whose stamp
// changed is cut again.
TEST_F(InstallTest, TheRecordedChunksServeWhileTheFileHoldsThem) {
  const std::size_t mebibyte = 1 << 20;
  support::RandomBytes noise(9);
  const std::string pack = noise(10 * mebibyte);
  const std::string edited =
      pack.substr(0, 5 * mebibyte) + noise(mebibyte) + pack.substr(6 * mebibyte);
  const Listed game = PublishFile("Quellorn.exe", "game 1");
  const Listed installed = PublishFile("data/pack.pak", pack);
  const std::optional<ChunkedFile> old = ChunkFile(folder_.Write("old.pak", pack), installed.path);
  ASSERT_TRUE(old);
  ASSERT_EQ(
      Run(PublishArchive("1.0.0",
                         {{"Quellorn.exe", "game 1"}, {"data", "", '5'}, {"data/pack.pak", pack}}),
          {game, installed}, {*old}),
      L"");
  const std::vector<RecordedFile> record = ReadRecord(store_.root / "1.0.0.record");
  ASSERT_EQ(record.size(), 2u);
  EXPECT_EQ(record[1].chunks, old->chunks);
  const Listed entry = PublishFile("data/pack.pak", edited);
  const std::optional<ChunkedFile> index = ChunkFile(folder_.Write("new.pak", edited), entry.path);
  ASSERT_TRUE(index);
  const std::filesystem::path kept = store_.root / "1.0.0/data/pack.pak";
  const auto time = std::chrono::floor<std::chrono::seconds>(last_write_time(kept));
  last_write_time(kept, time);
  ASSERT_TRUE(WriteRecord(store_.root / "1.0.0.record", store_.root / "1.0.0", {game, installed},
                          {}, {*old}));
  const std::string blob = "/files/" + entry.sha256.Text() + ".bin";
  struct Case {
    const char* what;
    std::function<void()> change;
    bool whole;  // fetched whole rather than by its chunks
  };
  const Case cases[] = {
      {"untouched", [] {}, false},
      {"rewritten with its stamp kept",
       [&] {
         std::string spoilt = pack;
         spoilt[100] ^= 1;
         folder_.Write("My Games/Client/1.0.0/data/pack.pak", spoilt);
         last_write_time(kept, time);
       },
       true},
      {"rewritten, its stamp changed: cut again", [&] { Write("1.0.0/data/pack.pak", pack); },
       false},
  };
  Release release = PublishArchive("1.1.0", kGame);
  release.size = 10'000'000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    store_.NameCurrent(L"1.0.0");
    std::filesystem::remove_all(store_.root / "1.1.0");
    c.change();
    const std::size_t before = server_.Requests().size();
    ASSERT_EQ(Run(release, {game, entry}, {*index}), L"");
    EXPECT_EQ(HashFile(store_.root / "1.1.0/data/pack.pak"), entry.sha256);
    int whole = 0;
    int ranged = 0;
    const auto requests = server_.Requests();
    for (std::size_t i = before; i < requests.size(); ++i) {
      if (requests[i].path == blob) ++(requests[i].Header("range") ? ranged : whole);
    }
    EXPECT_EQ(whole, c.whole ? 1 : 0);
    if (!c.whole) {
      EXPECT_GE(ranged, 1);
    }
  }
}

TEST_F(InstallTest, SixtyPercentOfTheArchiveDecidesThePath) {
  MakeCurrent("1.0.0", {{"Quellorn.exe", "game"}});
  // One changed file of 464 bytes is estimated at 464 + 65,536 = 66,000 bytes; 60 % of 110,000.
  for (const auto& [changedSize, archiveExpected] :
       {std::pair<std::size_t, bool>{464, true}, std::pair<std::size_t, bool>{463, false}}) {
    support::ScriptedServer& server = server_;
    const std::vector<Listed> listed = {
        PublishFile("Quellorn.exe", "game"),
        PublishFile("data/changed.pak", std::string(changedSize, 'c'))};
    const Release release{L"1.1.0", L"client.tar", std::wstring(64, L'a'), 110000};
    const size_t before = server.Requests().size();
    Run(release, listed);  // its outcome doesn't matter here, only what it asked for first
    ASSERT_GT(server.Requests().size(), before);
    EXPECT_EQ(server.Requests()[before].path == "/client.tar", archiveExpected) << changedSize;
  }
}

TEST_F(InstallTest, ASecondAttemptPicksUpWhatTheFirstLeft) {
  const support::ScopedTransfers once(support::NoRetries);
  // Archive: the first download is cut off; the next asks only for the rest.
  const Release release = PublishArchive("1.0.0", kGame, FileFaults{.cutAfter = 40000});
  EXPECT_TRUE(Run(release).starts_with(L"The download was cut off: "));
  PublishArchive("1.0.0", kGame);
  EXPECT_EQ(Run(release), L"");
  EXPECT_EQ(server_.Requests().back().Header("range"), "bytes=40000-");

  // File by file: what the first attempt finished isn't fetched again, and what it cut off is
  // resumed.
  const std::vector<Listed> listed = {PublishFile("Quellorn.exe", "the game"),
                                      PublishFile("data/a.pak", std::string(20000, 'a')),
                                      PublishFile("data/b.pak", std::string(30000, 'b')),
                                      PublishFile("data/c.pak", std::string(3000000, 'c'))};
  server_.Route("/files/" + listed[2].sha256.Text() + ".bin", support::Always({.status = 500}));
  Release next = PublishArchive("1.1.0", kGame);
  next.size = 100'000'000;
  EXPECT_EQ(Run(next, listed), L"The server answered 500");
  std::map<std::string, std::uint64_t> partial;  // what the first attempt left, by request path
  std::set<std::string> finished;
  for (const Listed& entry : listed) {
    const std::string url = "/files/" + entry.sha256.Text() + ".bin";
    const std::string staged = "1.1.0.partial/" + entry.path;
    const std::string part = PartFileOf("1.1.0.parts", entry.sha256).generic_string();
    if (Exists(staged)) finished.insert(url);
    if (Exists(part)) partial[url] = std::filesystem::file_size(store_.root / part);
  }
  const size_t before = server_.Requests().size();
  PublishFile("data/b.pak", std::string(30000, 'b'));
  EXPECT_EQ(Run(next, listed), L"");
  EXPECT_EQ(store_.Current(), L"1.1.0");
  const auto requests = server_.Requests();
  for (size_t i = before; i < requests.size(); ++i) {
    EXPECT_EQ(finished.count(requests[i].path), 0u) << requests[i].path;
    const auto kept = partial.find(requests[i].path);
    if (kept != partial.end() && kept->second > 0) {
      EXPECT_EQ(requests[i].Header("range"), "bytes=" + std::to_string(kept->second) + "-");
    }
  }
}

}  // namespace
}  // namespace launcher
