#include "tools/publish/server/publish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>

#include "launcher/feed/chunk_index.h"
#include "launcher/feed/file_list.h"
#include "launcher/feed/manifest.h"
#include "launcher/feed/server_layout.h"
#include "launcher/store/zstd_unpack.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"
#include "launcher/transfer/sha256.h"
#include "support/archive_maker_for_tests.h"
#include "support/failure_of.h"
#include "support/random_bytes.h"
#include "support/temporary_folder.h"
#include "tools/publish/reports/verify.h"
#include "tools/publish/server/channels.h"

namespace launcher::publish {
namespace {

using Files = std::map<std::string, std::string>;

// Every file below `folder` with its bytes: what a server folder holds, to compare before/after.
Files Contents(const std::filesystem::path& folder) {
  Files files;
  if (!std::filesystem::exists(folder)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    const auto name = entry.path().lexically_relative(folder).generic_string();
    files[name] = entry.is_regular_file() ? ReadWholeFile(entry.path()) : "(folder)";
  }
  return files;
}

class PublishTest : public testing::Test {
 protected:
  void WriteBuild(const Files& files) {
    std::filesystem::remove_all(build_);
    for (const auto& [name, bytes] : files) {
      if (name.ends_with('/')) {
        std::filesystem::create_directories(build_ / name);  // a folder left empty
      } else {
        folder_.Write(std::filesystem::path("build") / name, bytes);
      }
    }
  }

  ReleaseSummary Publish(const std::wstring& version, const ArchiveMaker& maker) {
    return PublishRelease(build_, version, server_, maker);
  }
  ReleaseSummary Publish(const std::wstring& version) {
    return Publish(version, support::ArchiveMakerForTests());
  }

  // The sample game with some files replaced or added.
  Files Changed(const Files& changes) const {
    Files files = game_;
    for (const auto& [name, bytes] : changes) files[name] = bytes;
    return files;
  }

  std::wstring PublishFailure(const std::wstring& version) {
    return support::FailureOf([&] { Publish(version); });
  }

  std::vector<std::wstring> Problems() { return Verify(WideFromPath(server_)).problems; }

  support::TemporaryFolder folder_;
  const std::filesystem::path build_ = folder_.path() / "build";
  const std::filesystem::path server_ = folder_.path() / "www";
  const Files game_ = {{"Quellorn.exe", "game 1.0.0"},
                       {"data/maps/one.pak", std::string(100000, 'm')},
                       {"data/readme.txt", "hello"},
                       {"data/shared.pak", "the same in every release"}};
};

TEST_F(PublishTest, AReleaseIsWhatTheLauncherReads) {
  WriteBuild(game_);
  const ReleaseSummary summary = Publish(L"1.0.0");
  EXPECT_EQ(summary.files, 4u);
  EXPECT_EQ(summary.blobsWritten, 4u);
  const Feed feed = ParseFeed(ReadWholeFile(server_ / "latest.json"));
  EXPECT_EQ(feed.release.version, L"1.0.0");
  EXPECT_EQ(feed.release.file, std::wstring(L"Quellorn-1.0.0") + support::kTestArchiveEnding);
  EXPECT_TRUE(IsUsableRelease(feed.release));
  EXPECT_FALSE(feed.launcher);
  const std::string list = ReadWholeFile(server_ / PathFromWide(feed.files));
  EXPECT_EQ(Sha256Hex(list), feed.filesSha256);
  const auto listed = ParseFileList(list);
  ASSERT_EQ(listed.size(), 4u);
  // Byte order: capitals before small letters.
  EXPECT_EQ(listed[0].path, "Quellorn.exe");
  EXPECT_EQ(listed[1].path, "data/maps/one.pak");
  for (const Listed& entry : listed) {
    EXPECT_EQ(ReadWholeFile(server_ / "files" / PathFromWide(entry.sha256.Hex() + L".bin")),
              game_.at(entry.path));
  }
  EXPECT_TRUE(Problems().empty());
  EXPECT_EQ(feed.chunks, L"");  // no file is large enough to be chunked

  // A large file: its chunks, cut in the same read as its digest, in an index the feed names.
  // With a name longer than a tar header holds, and two files with the same bytes: one blob.
  const std::string pack(kChunkedFileSize + 5, 'p');
  const std::string longName = "data/" + std::string(150, 'l') + ".pak";
  WriteBuild(Changed({{"data/pack.pak", pack}, {longName, "long"}, {"data/copy.pak", "long"}}));
  const ReleaseSummary nextSummary = Publish(L"1.1.0");
  EXPECT_EQ(std::make_tuple(nextSummary.blobsWritten, nextSummary.blobsKept),
            std::make_tuple(std::uint64_t{2}, std::uint64_t{5}));
  EXPECT_EQ(ReadWholeFile(server_ / "files" / PathFromWide(Sha256Hex("long") + L".bin")), "long");
  EXPECT_TRUE(Problems().empty());
  const Feed& next = nextSummary.feed;
  EXPECT_EQ(next.chunks, L"Quellorn-1.1.0-chunks.txt");
  const std::string index = ReadWholeFile(server_ / "Quellorn-1.1.0-chunks.txt");
  EXPECT_EQ(Sha256Hex(index), next.chunksSha256);
  const std::vector<ChunkedFile> chunked = ParseChunkIndex(index);
  ASSERT_EQ(chunked.size(), 1u);
  EXPECT_EQ(std::make_tuple(chunked[0].path, chunked[0].sha256, chunked[0].size),
            std::make_tuple(std::string("data/pack.pak"), DigestOf(pack), pack.size()));
  EXPECT_EQ(chunked[0].chunks.back().offset + chunked[0].chunks.back().size, pack.size());
}

TEST_F(PublishTest, ANewReleaseAddsOnlyTheChangedBlobsAndTheSameBuildTheSameBytes) {
  WriteBuild(game_);
  Publish(L"1.0.0");
  const Files first = Contents(server_);
  Publish(L"1.0.0");  // again, unchanged
  EXPECT_TRUE(Contents(server_) == first);
  // The same from a maker whose tar can't be followed as it writes: the build is read on its own.
  PublishRelease(build_, L"1.0.0", folder_.path() / "other",
                 [](const auto& build, const auto& names, const auto& archive, const ArchiveTap&) {
                   return support::ArchiveMakerForTests()(build, names, archive,
                                                          [](const char*, std::size_t) {});
                 });
  // The feeds may differ in their expiry only, and their history in its times: times of each run.
  Files other = Contents(folder_.path() / "other");
  Files same = first;
  const Feed otherFeed = ParseFeed(other.extract("latest.json").mapped());
  const Feed sameFeed = ParseFeed(same.extract("latest.json").mapped());
  const auto untimed = [](Files& files) {
    const std::string history = files.extract(".feed-history.txt").mapped();
    return history.substr(history.find('\t'));
  };
  EXPECT_EQ(untimed(other), untimed(same));
  EXPECT_TRUE(other == same);
  EXPECT_EQ(std::tie(otherFeed.release.sha256, otherFeed.filesSha256),
            std::tie(sameFeed.release.sha256, sameFeed.filesSha256));

  WriteBuild(Changed({{"Quellorn.exe", "game 1.1.0"}, {"data/new.pak", "new"}}));
  const ReleaseSummary summary = Publish(L"1.1.0");
  EXPECT_EQ(summary.blobsWritten, 2u);
  EXPECT_EQ(summary.blobsKept, 3u);
  const Files second = Contents(server_);
  std::vector<std::string> added;
  for (const auto& [name, bytes] : second) {
    if (!first.count(name)) added.push_back(name);
  }
  EXPECT_EQ(added,
            (std::vector<std::string>{"Quellorn-1.1.0-blocks.txt", "Quellorn-1.1.0-files.txt",
                                      "Quellorn-1.1.0-manifest.zst",
                                      "Quellorn-1.1.0" + Narrow(support::kTestArchiveEnding),
                                      "files/" + Narrow(Sha256Hex("new")) + ".bin",
                                      "files/" + Narrow(Sha256Hex("game 1.1.0")) + ".bin"}));
  EXPECT_EQ(ParseFeed(second.at("latest.json")).release.version, L"1.1.0");
  EXPECT_TRUE(Problems().empty());
}

TEST_F(PublishTest, VerifyFindsWhatIsMissingOrWrong) {
  struct Case {
    const char* what;
    std::function<void(const std::filesystem::path& www, const Feed& feed)> spoil;
    std::wstring problem;  // the start of the one problem reported
  };
  const auto blob = [](const std::filesystem::path& www, const std::string& bytes) {
    return www / "files" / PathFromWide(Sha256Hex(bytes) + L".bin");
  };
  const Case cases[] = {
      {"missing blob", [&](auto& www, auto&) { std::filesystem::remove(blob(www, "hello")); },
       L"files/" + Sha256Hex("hello") + L".bin (data/readme.txt): missing"},
      {"blob with other bytes",
       [&](auto& www, auto&) { std::ofstream(blob(www, "hello"), std::ios::binary) << "jello"; },
       L"files/" + Sha256Hex("hello") + L".bin (data/readme.txt): its SHA-256"},
      {"wrong size in the feed",
       [](auto& www, const Feed& feed) {
         Feed wrong = feed;
         wrong.release.size += 1;
         std::ofstream(www / "latest.json", std::ios::binary) << WriteFeed(wrong);
       },
       L"Quellorn-1.0.0" + std::wstring(support::kTestArchiveEnding) + L": "},
      {"list digest",
       [](auto& www, const Feed& feed) {
         std::ofstream(www / PathFromWide(feed.files), std::ios::app | std::ios::binary) << "\n";
       },
       L"Quellorn-1.0.0-files.txt: its SHA-256 isn't the feed's"},
      {"missing archive",
       [](auto& www, const Feed& feed) {
         std::filesystem::remove(www / PathFromWide(feed.release.file));
       },
       L"Quellorn-1.0.0" + std::wstring(support::kTestArchiveEnding) + L": missing"},
      {"no feed", [](auto& www, auto&) { std::filesystem::remove(www / "latest.json"); },
       L"latest.json: missing"},
  };
  WriteBuild(game_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(server_);
    const Feed feed = Publish(L"1.0.0").feed;
    c.spoil(server_, feed);
    const auto problems = Problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].substr(0, c.problem.size()), c.problem) << Narrow(problems[0]);
  }
}

TEST_F(PublishTest, AnOlderVersionOnlyWhenAskedFor) {
  WriteBuild(game_);
  Publish(L"2.0.0");
  const Files before = Contents(server_);
  // An older build published again, or a mistyped version: every player would go back.
  for (const std::wstring older : {L"1.9.9", L"0.9", L"1.99"}) {
    EXPECT_NE(PublishFailure(older).find(L"--allow-downgrade"), std::wstring::npos);
    EXPECT_TRUE(Contents(server_) == before);
  }
  EXPECT_EQ(Publish(L"2.0.0").feed.release.version, L"2.0.0");  // the same again: nothing new
  EXPECT_TRUE(Contents(server_) == before);
  const ReleaseSummary back = PublishRelease(
      build_, L"1.9.9", server_, support::ArchiveMakerForTests(), {}, {.allowDowngrade = true});
  EXPECT_EQ(back.feed.release.version, L"1.9.9");
  EXPECT_EQ(Publish(L"2.0.1").feed.release.version, L"2.0.1");  // and forward again
}

TEST_F(PublishTest, AReleaseHistoryThroughChannelsPromoteAndPrune) {
  const auto feed = [&](const char* name) { return ReadWholeFile(server_ / name); };
  // Bytes that don't compress: an update of one small file costs less than the archive.
  std::string movie(300000, '\0');
  std::mt19937 random(7);
  for (char& byte : movie) byte = static_cast<char>(random());
  const auto publishTo = [&](const std::wstring& version, const std::wstring& channel) {
    WriteBuild(Changed({{"Quellorn.exe", "game " + Narrow(version)}, {"data/movie.bik", movie}}));
    return PublishRelease(build_, version, server_, support::ArchiveMakerForTests(), {},
                          {.channel = channel});
  };
  publishTo(L"1.0.0", L"");
  // Beta gets 1.1.0, the live feed stays; the unchanged files' blobs are the live ones. A player
  // on 1.0.0 fetches the manifest and the one changed file.
  const ReleaseSummary first = publishTo(L"1.1.0", L"beta");
  EXPECT_EQ(first.blobsWritten, 1u);
  ASSERT_EQ(first.plans.size(), 2u);
  // A new player takes the archive, its block list and the manifest.
  const Feed published = ParseFeed(feed("latest-beta.json"));
  EXPECT_EQ(first.plans[0].from, L"");
  EXPECT_TRUE(first.plans[0].byArchive);
  EXPECT_EQ(first.plans[0].bytes, published.release.size +
                                      feed(Narrow(published.blocks).c_str()).size() +
                                      feed(Narrow(published.manifest).c_str()).size());
  EXPECT_EQ(first.plans[1].from, L"1.0.0");
  EXPECT_FALSE(first.plans[1].byArchive);
  EXPECT_EQ(first.plans[1].bytes, feed("Quellorn-1.1.0-manifest.zst").size() + 10);
  EXPECT_EQ(first.plans[1].costliest,
            (std::vector<std::pair<std::string, std::uint64_t>>{{"Quellorn.exe", 10}}));
  EXPECT_EQ(ParseFeed(feed("latest.json")).release.version, L"1.0.0");
  EXPECT_EQ(ParseFeed(feed("latest-beta.json")).release.version, L"1.1.0");

  // The beta build becomes the live one byte for byte; going back needs asking.
  const Feed live = Promote(server_, L"1.1.0", L"", {}, false);
  const Feed beta = ParseFeed(feed("latest-beta.json"));
  EXPECT_EQ(live.release, beta.release);
  EXPECT_EQ(std::make_pair(live.files, live.filesSha256),
            std::make_pair(beta.files, beta.filesSha256));
  const Files before = Contents(server_);
  for (const auto& [version, failure] :
       {std::pair<std::wstring, std::wstring>{L"1.0.0", L"--allow-downgrade"},
        {L"0.5.0", L"0.5.0 isn't published"}}) {
    const std::wstring message =
        support::FailureOf([&] { Promote(server_, version, L"", {}, false); });
    EXPECT_NE(message.find(failure), std::wstring::npos) << Narrow(message);
    EXPECT_TRUE(Contents(server_) == before);
  }
  EXPECT_EQ(Promote(server_, L"1.0.0", L"", {}, true).release.version, L"1.0.0");
  Promote(server_, L"1.1.0", L"", {}, false);
  EXPECT_NE(support::FailureOf([&] { publishTo(L"1.2.0", L"Beta!"); }).find(L"isn't a channel"),
            std::wstring::npos);
  // Too dear for the players of 1.0.0 and 1.1.0 (a new movie no patch makes small): refused,
  // nothing written.
  std::string otherMovie = movie;
  std::shuffle(otherMovie.begin(), otherMovie.end(), random);
  WriteBuild(Changed({{"data/movie.bik", otherMovie}}));
  const Files unchanged = Contents(server_);
  EXPECT_NE(support::FailureOf([&] {
              PublishRelease(build_, L"1.1.1", server_, support::ArchiveMakerForTests(), {},
                             {.maxUpdateBytes = 300000});
            }).find(L"a player on 1.0.0 would download "),
            std::wstring::npos);
  EXPECT_TRUE(Contents(server_) == unchanged);

  // Two more betas. Every release was named by some feed within the grace period (1.0.0 by the
  // live one, a moment ago): all of them stay for the players who read those feeds.
  publishTo(L"1.2.0", L"beta");
  publishTo(L"1.3.0", L"beta");
  const Files full = Contents(server_);
  const PruneOutcome graced = Prune(server_, 2, false);
  EXPECT_TRUE(graced.removed.empty());
  EXPECT_EQ(graced.kept.size(), 4u);
  // Past the grace period, keeping two, only 1.0.0 goes: live names 1.1.0. A dry run removes
  // nothing.
  const auto later = std::chrono::system_clock::now() + kDefaultGrace + std::chrono::minutes(1);
  const std::vector<std::wstring> going = {
      L"Quellorn-1.0.0" + std::wstring(support::kTestArchiveEnding), L"Quellorn-1.0.0-files.txt",
      L"Quellorn-1.0.0-blocks.txt", L"Quellorn-1.0.0-manifest.zst",
      L"files/" + Sha256Hex("game 1.0.0") + L".bin"};
  for (const bool dryRun : {true, false}) {
    const PruneOutcome outcome = Prune(server_, 2, dryRun, kDefaultGrace, later);
    EXPECT_EQ(outcome.removed, going);
    EXPECT_EQ(outcome.kept, (std::vector<std::wstring>{L"1.1.0", L"1.2.0", L"1.3.0"}));
    std::uint64_t bytes = 0;
    for (const std::wstring& name : going) bytes += full.at(Narrow(name)).size();
    EXPECT_EQ(outcome.bytes, bytes);
    EXPECT_EQ(Contents(server_).size(), full.size() - (dryRun ? 0 : going.size()));
  }
  EXPECT_TRUE(Problems().empty());  // every channel, and all it names, still whole
}

// Each changed file gets a patch from what its path held in each of the last releases (as many as
// asked), so a player two releases behind patches from its own version; a text that compresses is
// stored packed as well, and verify checks every form the manifest names.
TEST_F(PublishTest, AChangedFileIsPatchedFromEachOfTheLastReleasesAndStoredPacked) {
  const std::string text = support::RandomBytes(3)(200000);
  const auto script = [&](int edit) {
    std::string bytes = text;
    bytes.replace(1000 * edit, 10, "edit " + std::to_string(edit));
    return bytes;
  };
  std::vector<Digest> scripts;
  for (int edit = 0; edit < 4; ++edit) {
    WriteBuild(
        Changed({{"data/script.bin", script(edit)}, {"data/notes.txt", std::string(5000, 'n')}}));
    scripts.push_back(DigestOf(script(edit)));
    const ReleaseSummary summary =
        PublishRelease(build_, L"1." + std::to_wstring(edit) + L".0", server_,
                       support::ArchiveMakerForTests(), {}, {.patchedReleases = 2});
    EXPECT_EQ(summary.patches, std::min(edit, 2)) << edit;
  }
  const Feed feed = ParseFeed(ReadWholeFile(server_ / "latest.json"));
  EXPECT_EQ(feed.manifest, L"Quellorn-1.3.0-manifest.zst");
  const std::string packed = ReadWholeFile(server_ / PathFromWide(feed.manifest));
  EXPECT_EQ(Sha256Hex(packed), feed.manifestSha256);
  const Manifest manifest = ParseManifest(*UnpackBytes(packed, kLargestManifest));
  EXPECT_EQ(manifest.listed, ParseFileList(ReadWholeFile(server_ / PathFromWide(feed.files))));
  const StoredContent* forms = FindStored(manifest.stored, scripts[3]);
  ASSERT_NE(forms, nullptr);
  EXPECT_FALSE(forms->packed);  // random bytes: packing saves nothing
  std::vector<Digest> bases;
  for (const Patch& patch : forms->patches) {
    bases.push_back(patch.base);
    EXPECT_LT(patch.stored.size, 1000u);
    const std::optional<Digest> made = UnpackFile(
        server_ / PathFromWide(layout::PatchName(scripts[3], patch.base)), folder_.path() / "made",
        script(3).size(), ReadWholeFile(server_ / PathFromWide(layout::BlobName(patch.base))));
    EXPECT_EQ(made, scripts[3]);
  }
  EXPECT_EQ(bases, (std::vector<Digest>{scripts[2], scripts[1]}));  // not three back: 2 asked
  const StoredContent* notes = FindStored(manifest.stored, DigestOf(std::string(5000, 'n')));
  ASSERT_NE(notes, nullptr);
  ASSERT_TRUE(notes->packed);
  EXPECT_LT(notes->packed->size, 100u);
  // The build of 1.3.0 planned again: a player on 1.1.0, two behind, downloads the manifest and
  // its own patch; one on 1.3.0 has it all already.
  WriteBuild(Changed({{"data/script.bin", script(3)}, {"data/notes.txt", std::string(5000, 'n')}}));
  const PlanSummary plan = PlanRelease(build_, server_, support::ArchiveMakerForTests());
  ASSERT_EQ(plan.plans.size(), 5u);
  EXPECT_EQ(plan.plans[2].from, L"1.1.0");
  EXPECT_LT(plan.plans[2].bytes, packed.size() + 1000);
  EXPECT_EQ(plan.plans[4].from, L"1.3.0");
  EXPECT_TRUE(plan.plans[4].sameBuild);
  EXPECT_EQ(plan.plans[4].bytes, 0u);
  EXPECT_TRUE(Problems().empty());
  std::filesystem::remove(server_ / PathFromWide(layout::PatchName(scripts[3], scripts[2])));
  EXPECT_EQ(Problems().size(), 1u);
}

TEST_F(PublishTest, ALargeArchiveIsCompressedOnlyWhenItsSampleCompresses) {
  if (std::wstring(support::kTestArchiveEnding) == L".tar") GTEST_SKIP() << "no system tar";
  support::RandomBytes noise(7);
  std::string text;
  while (text.size() < (66u << 20)) text += "a line of a game's text that repeats " + noise(8);
  struct Case {
    const char* what;
    std::string pack;
    bool compressed;
  };
  const Case cases[] = {
      {"random bytes", noise(66u << 20), false},
      {"text", text, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBuild(Changed({{"data/pack.pak", c.pack}}));
    const std::filesystem::path archive = folder_.path() / "archive";
    const std::vector<std::wstring> names = {L"Quellorn.exe", L"data/pack.pak"};
    std::uint64_t tapped = 0;
    EXPECT_EQ(support::ArchiveMakerForTests()(
                  build_, names, archive, [&](const char*, std::size_t count) { tapped += count; }),
              c.compressed);
    EXPECT_GT(tapped, c.pack.size());  // the plain tar, whatever the archive became
    EXPECT_EQ(std::filesystem::file_size(archive) < c.pack.size(), c.compressed);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path()), {}), 2);
  }
}

TEST_F(PublishTest, AFailureHalfWayLeavesTheServerFolderAsItWas) {
  WriteBuild(game_);
  Publish(L"1.0.0");
  const Files before = Contents(server_);
  const std::string pack(kChunkedFileSize + 5, 'p');
  struct Case {
    const char* what;
    const char* changed;  // the file that changes while the archive is made
    bool tapped;          // whether the maker shows the tar's bytes
    int archives;         // made before the failure
  };
  const Case cases[] = {
      // Cut into chunks first, then read by tar: the two reads must agree.
      {"a large file, before tar reads it", "data/zz.pak", true, 1},
      // An archive that can't be followed: the build is hashed first, and then found changed
      // while the blobs are written.
      {"a small file, after tar read it", "data/new.pak", false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBuild(
        Changed({{"Quellorn.exe", "game 1.1.0"}, {"data/new.pak", "new"}, {"data/zz.pak", pack}}));
    int made = 0;
    const ArchiveMaker maker = [&](const auto& build, const auto& names, const auto& archive,
                                   const ArchiveTap& tap) {
      const auto change = [&] {
        std::ofstream(build / c.changed, std::ios::binary) << "late " << made;
      };
      ++made;
      if (c.tapped) change();
      const bool compressed = support::ArchiveMakerForTests()(
          build, names, archive, c.tapped ? tap : [](const char*, std::size_t) {});
      change();
      return compressed;
    };
    const std::wstring failure = support::FailureOf([&] { Publish(L"1.1.0", maker); });
    EXPECT_NE(failure.find(L"changed while it was being published"), std::wstring::npos);
    EXPECT_EQ(made, c.archives);
    EXPECT_TRUE(Contents(server_) == before);
    EXPECT_TRUE(Problems().empty());
  }
}

TEST_F(PublishTest, BadInputIsRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char* what;
    Files build;
    std::wstring version;
    std::wstring failure;  // a part of the message
    bool posixOnly = false;
    ReleaseOptions options = {};
  };
  Files noGame = game_;
  noGame.erase("Quellorn.exe");
  Files nested = noGame;
  nested["bin/Quellorn.exe"] = "game";
  const Files clash = Changed({{"Data/readme.txt", "other"}});
  const Files colon = Changed({{"data/a:b", "x"}});
  const Case cases[] = {
      {"no game", noGame, L"1.0.0", L"has no Quellorn.exe at its top"},
      {"game not at the top", nested, L"1.0.0", L"has no Quellorn.exe at its top"},
      {"version with a space", game_, L"1.0 beta", L"isn't a version the launcher accepts"},
      {"version with a slash", game_, L"../1.0", L"isn't a version the launcher accepts"},
      {"version Windows shortens", game_, L"1.1.", L"isn't a version the launcher accepts"},
      {"device name", game_, L"nul", L"isn't a version the launcher accepts"},
      {"a working name", game_, L"1.0.partial", L"isn't a version the launcher accepts"},
      {"names differing in case", clash, L"1.0.0", L"differ only in letter case", true},
      {"a name the list can't carry", colon, L"1.0.0", L"can't be carried by a file list", true},
      {"a pre-release look", game_, L"2.3.0-beta", L"reads to the launcher as 2.3.0:"},
      {"an empty folder, strictly",
       Changed({{"Saves/", ""}}),
       L"1.0.0",
       L"Saves is an empty folder",
       false,
       {.strict = true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Windows holds neither a colon in a name nor two names that differ only in case.
    if (c.posixOnly && std::filesystem::path::preferred_separator != '/') continue;
    std::filesystem::remove_all(server_);
    WriteBuild(game_);
    Publish(L"0.9.0");
    const Files before = Contents(server_);
    WriteBuild(c.build);
    const std::wstring failure = support::FailureOf([&] {
      PublishRelease(build_, c.version, server_, support::ArchiveMakerForTests(), {}, c.options);
    });
    EXPECT_NE(failure.find(c.failure), std::wstring::npos) << Narrow(failure);
    EXPECT_TRUE(Contents(server_) == before);
  }
  // Without --strict an empty folder is a warning; a name is taken when asked for.
  WriteBuild(Changed({{"Saves/", ""}}));
  EXPECT_EQ(Publish(L"1.0.0").warnings.size(), 1u);
  EXPECT_EQ(PublishRelease(build_, L"1.1.0-rc", server_, support::ArchiveMakerForTests(), {},
                           {.allowName = true})
                .feed.release.version,
            L"1.1.0-rc");
}

TEST_F(PublishTest, AServerFolderThatCantBeWrittenIsSaidSoAndLeftAlone) {
  WriteBuild(game_);
  folder_.Write("www", "a file where the folder should be");
  EXPECT_NE(PublishFailure(L"1.0.0").find(L"couldn't be written"), std::wstring::npos);
  EXPECT_EQ(ReadWholeFile(server_), "a file where the folder should be");
  std::filesystem::remove(server_);
  // A folder that didn't exist and can't be completed is removed again.
  folder_.Write("www/files", "a file where the blobs go");
  EXPECT_NE(PublishFailure(L"1.0.0").find(L"couldn't be written"), std::wstring::npos);
  EXPECT_TRUE((Contents(server_) == Files{{"files", "a file where the blobs go"}}));
}

TEST_F(PublishTest, AnotherBuildUnderAPublishedVersionIsRefused) {
  WriteBuild(game_);
  Publish(L"1.0.0");
  const Files before = Contents(server_);
  WriteBuild(Changed({{"data/readme.txt", "changed"}}));
  EXPECT_NE(PublishFailure(L"1.0.0").find(L"is already published with other bytes"),
            std::wstring::npos);
  EXPECT_TRUE(Contents(server_) == before);
}

TEST_F(PublishTest, ALauncherJoinsTheFeedAndKeepsTheRelease) {
  const auto installer = folder_.Write("QuellornSetup.exe", "installer 2.3.0");
  EXPECT_NE(support::FailureOf([&] {
              PublishLauncher(installer, L"2.3.0", server_);
            }).find(L"publish a release first"),
            std::wstring::npos);
  WriteBuild(game_);
  const Feed released = Publish(L"1.0.0").feed;
  const Release launcher = PublishLauncher(installer, L"2.3.0", server_);
  EXPECT_EQ(launcher.file, L"Quellorn-Launcher-2.3.0.exe");
  EXPECT_EQ(launcher.sha256, Sha256Hex("installer 2.3.0"));
  Feed feed = ParseFeed(ReadWholeFile(server_ / "latest.json"));
  ASSERT_TRUE(feed.launcher);
  EXPECT_EQ(feed.launcher->version, L"2.3.0");
  EXPECT_EQ(feed.launcher->size, 15u);
  EXPECT_EQ(feed.release.sha256, released.release.sha256);
  EXPECT_EQ(feed.files, released.files);
  // A later release keeps the launcher.
  WriteBuild(Changed({{"Quellorn.exe", "game 1.1.0"}}));
  Publish(L"1.1.0");
  feed = ParseFeed(ReadWholeFile(server_ / "latest.json"));
  ASSERT_TRUE(feed.launcher);
  EXPECT_EQ(feed.launcher->file, L"Quellorn-Launcher-2.3.0.exe");
  EXPECT_TRUE(Problems().empty());
}

}  // namespace
}  // namespace launcher::publish
