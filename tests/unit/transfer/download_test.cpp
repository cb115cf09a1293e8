#include "launcher/transfer/download.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "launcher/feed/release.h"
#include "launcher/text/failure.h"
#include "launcher/text/text.h"
#include "launcher/transfer/http.h"
#include "launcher/transfer/interruptions.h"
#include "launcher/transfer/sha256.h"
#include "launcher/transfer/transfer_settings.h"
#include "launcher/transfer/written_file_sha256.h"
#include "support/failure_of.h"
#include "support/scoped_transfers.h"
#include "support/scripted_server.h"
#include "support/temporary_folder.h"

namespace launcher {
namespace {

using support::Always;
using support::FileFaults;
using support::ReadFile;
using support::Response;
using support::ScriptedServer;
using support::ServeFile;

std::string Pattern(std::size_t size, int seed = 1) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) >> 2);
  return bytes;
}

Release ReleaseOf(const std::string& content) {
  return Release{L"1.0.0", L"file.bin", Sha256Hex(content), content.size()};
}

class DownloadTest : public ::testing::Test {
 protected:
  // Runs Download and gives its failure's message, or "" when it succeeded.
  std::wstring Run(const Release& release, const std::string& path = "/file.bin") {
    progress_.clear();
    return support::FailureOf([&] {
      Download(server_.Url(path), release.size, release.sha256, file_,
               [this](std::uint64_t written) { progress_.push_back(written); });
    });
  }

  std::optional<std::string> Range(std::size_t request) const {
    return server_.Requests().at(request).Header("range");
  }

  ScriptedServer server_;
  support::TemporaryFolder folder_;
  std::filesystem::path file_ = folder_.path() / "file.bin.part";
  std::vector<std::uint64_t> progress_;
};

TEST_F(DownloadTest, FreshDownloadReportsFromZeroToTheSize) {
  const std::string content = Pattern(200000);
  server_.Route("/file.bin", ServeFile(content, FileFaults{.chunk = 50000}));
  EXPECT_EQ(Run(ReleaseOf(content)), L"");
  EXPECT_TRUE(ReadFile(file_) == content);
  EXPECT_EQ(Range(0), std::nullopt);
  ASSERT_GE(progress_.size(), 2u);
  EXPECT_EQ(progress_.front(), 0u);
  EXPECT_EQ(progress_.back(), content.size());
  EXPECT_TRUE(std::is_sorted(progress_.begin(), progress_.end()));
}

// Small files are hashed as they arrive, large ones read back behind the writer: both kinds.
constexpr std::size_t kSizes[] = {5000, WrittenFileSha256::kFollowFrom + 5000};

TEST_F(DownloadTest, ResumesFromKeptBytesWithRange) {
  for (const std::size_t size : kSizes) {
    const std::string content = Pattern(size);
    folder_.Write("file.bin.part", content.substr(0, 1000));
    server_.Route("/file.bin", ServeFile(content));
    EXPECT_EQ(Run(ReleaseOf(content)), L"");
    EXPECT_TRUE(ReadFile(file_) == content);
    EXPECT_EQ(Range(server_.Requests().size() - 1), "bytes=1000-");
    EXPECT_EQ(progress_.front(), 1000u);
    EXPECT_EQ(progress_.back(), size);
  }
}

TEST_F(DownloadTest, AWholeAnswerToARangeRestartsTheDigest) {
  for (const std::size_t size : kSizes) {
    const std::string content = Pattern(size);
    // Kept bytes that aren't the file's: only a digest of the new bytes alone can match.
    folder_.Write("file.bin.part", Pattern(1000, 99));
    server_.Route("/file.bin", ServeFile(content, FileFaults{.ignoreRange = true}));
    EXPECT_EQ(Run(ReleaseOf(content)), L"") << size;
    EXPECT_TRUE(ReadFile(file_) == content);
    EXPECT_EQ(progress_.front(), 0u);
  }
}

TEST_F(DownloadTest, FailuresAndWhatTheyLeaveOnDisk) {
  const std::string content = Pattern(5000);
  struct Case {
    const char* name;
    std::string kept;  // on disk before the call; empty: nothing
    support::Script script;
    std::wstring message;
    bool fileStays;
  };
  const Case cases[] = {
      {"refused range", content.substr(0, 1000), Always(Response{.status = 416}),
       L"The download couldn't be picked up where it stopped", false},
      {"not found", content.substr(0, 1000), Always(Response{.status = 404}),
       L"The server answered 404", true},
      {"server error", "", Always(Response{.status = 500}), L"The server answered 500", false},
      {"one byte too many", "", ServeFile(content + "!"),
       L"The download is larger than the 5000 bytes the update server promised", false},
      {"one byte short", "", ServeFile(content.substr(0, 4999)),
       L"The download ended before the whole file had arrived", false},
      {"wrong bytes", "", ServeFile(Pattern(5000, 7)),
       L"The download isn't the release the update server names: its SHA-256 differs", false},
      {"complete but wrong", Pattern(5000, 7), ServeFile(content),
       L"The download isn't the release the update server names: its SHA-256 differs", false},
      {"another part", content.substr(0, 1000), ServeFile(content, FileFaults{.rangeStartsAt = 0}),
       L"The server answered with another part of the file", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(file_);
    if (!c.kept.empty()) folder_.Write("file.bin.part", c.kept);
    server_.Route("/file.bin", c.script);
    EXPECT_EQ(Run(ReleaseOf(content)), c.message);
    EXPECT_EQ(std::filesystem::exists(file_), c.fileStays);
    if (c.fileStays) {
      EXPECT_TRUE(ReadFile(file_) == c.kept);
    }
  }
}

TEST_F(DownloadTest, TheFileOnTheDiskIsWhatCounts) {
  // Someone else removes the file once the last block is written: no empty file may take its place.
  const std::string content = Pattern(5000);
  server_.Route("/file.bin", ServeFile(content));
  bool removed = false;
  const std::wstring message = support::FailureOf([&] {
    Download(server_.Url("/file.bin"), content.size(), Sha256Hex(content), file_,
             [&](std::uint64_t written) {
               std::error_code error;
               if (written == content.size()) removed = std::filesystem::remove(file_, error);
             });
  });
  if (!removed) GTEST_SKIP() << "this system keeps a file being written from being removed";
  EXPECT_EQ(message, L"The download ended before the whole file had arrived");
  EXPECT_FALSE(std::filesystem::exists(file_));
}

// What a flaky server or cache does on the first requests, and what the retries make of it.
TEST_F(DownloadTest, RetriesGetPastTransientFaultsAndOneBadCopy) {
  const support::ScopedTransfers quick([](TransferSettings& settings) {
    settings.retryWaits = {std::chrono::milliseconds(10), std::chrono::milliseconds(10),
                           std::chrono::milliseconds(10)};
  });
  const std::string content = Pattern(300000);
  const auto good = ServeFile(content);
  struct Case {
    const char* name;
    support::Script first;  // the answer to the first `times` requests
    int times;
    std::wstring failure;  // empty: the download succeeds
    std::size_t requests;
    std::vector<int> waits;  // milliseconds, in order
  };
  const auto retryAfter = [](const char* seconds) {
    return Always(Response{.status = 503, .headers = {{"Retry-After", seconds}}});
  };
  const Case cases[] = {
      {"reset mid-body, resumed",
       ServeFile(content, FileFaults{.cutAfter = 50000, .reset = true}),
       3,
       L"",
       4,
       {10, 10, 10}},
      {"busy", Always(Response{.status = 503}), 2, L"", 3, {10, 10}},
      {"too many requests", Always(Response{.status = 429}), 1, L"", 2, {10}},
      {"busy, come back in a second", retryAfter("1"), 1, L"", 2, {1000}},
      {"busy, come back in ten minutes: the longest wait", retryAfter("600"), 1, L"", 2, {60000}},
      {"a stale copy, then the origin's", ServeFile(Pattern(300000, 9)), 1, L"", 2, {}},
      {"a stale copy twice",
       ServeFile(Pattern(300000, 9)),
       2,
       L"The download isn't the release the update server names: its SHA-256 differs",
       2,
       {}},
      {"busy for good",
       Always(Response{.status = 503}),
       9,
       L"The server answered 503",
       4,
       {10, 10, 10}},
      {"gone: not tried again",
       Always(Response{.status = 404}),
       9,
       L"The server answered 404",
       1,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(file_);
    // The server copies a script for every request: the count is kept apart.
    server_.Route("/file.bin",
                  [&, answered = std::make_shared<int>(0)](const support::Request& request) {
                    return ++*answered <= c.times ? c.first(request) : good(request);
                  });
    const std::size_t before = server_.Requests().size();
    std::vector<int> waits;
    const std::wstring failure = support::FailureOf([&] {
      DownloadWithRetries(
          server_.Url("/file.bin"), content.size(), Sha256Hex(content), file_, [](std::uint64_t) {},
          [&](std::chrono::milliseconds pause) {
            waits.push_back(static_cast<int>(pause.count()));
          });
    });
    EXPECT_EQ(failure, c.failure);
    EXPECT_EQ(waits, c.waits);
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size() - before, c.requests);
    if (c.failure.empty()) {
      EXPECT_TRUE(ReadFile(file_) == content);
    }
    // Resumed where the reset left it; the origin's copy asked for past the caches.
    if (std::string(c.name).starts_with("reset")) {
      EXPECT_EQ(requests[before + 1].Header("range"), "bytes=50000-");
    }
    if (std::string(c.name).starts_with("a stale")) {
      EXPECT_EQ(requests[before + 1].Header("cache-control"), "no-cache");
    }
  }
}

TEST_F(DownloadTest, TheBandwidthLimitHoldsForAllDownloadsTogether) {
  constexpr std::uint64_t kLimit = 2000 * 1024;
  const support::ScopedTransfers limited(
      [](TransferSettings& settings) { settings.bandwidthLimit = kLimit; });
  // Two downloads side by side, 5 MB in all.
  const std::string content = Pattern(2560000);
  server_.Route("/file.bin", ServeFile(content));
  std::mutex lock;
  std::vector<std::pair<std::chrono::steady_clock::time_point, std::uint64_t>> arrivals;
  const auto started = std::chrono::steady_clock::now();
  std::vector<std::thread> downloads;
  for (int i = 0; i < 2; ++i) {
    downloads.emplace_back([&, i] {
      std::uint64_t last = 0;
      Download(server_.Url("/file.bin"), content.size(), Sha256Hex(content),
               folder_.path() / std::to_string(i), [&](std::uint64_t written) {
                 const std::lock_guard guard(lock);
                 arrivals.emplace_back(std::chrono::steady_clock::now(), written - last);
                 last = written;
               });
    });
  }
  for (auto& download : downloads) download.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double rate = 2.0 * static_cast<double>(content.size()) / seconds;
  EXPECT_LE(rate, 1.02 * kLimit);
  // Near the limit: one block counted twice would halve it. (A machine too busy to wake the
  // readers on time makes it lower.)
  EXPECT_GE(rate, 0.7 * kLimit);
  // Over any second: no more than the limit, the block each download is handling and one block
  // made up for a late wake-up.
  for (const auto& [at, ignored] : arrivals) {
    std::uint64_t within = 0;
    for (const auto& [other, bytes] : arrivals) {
      if (other >= at && other < at + std::chrono::seconds(1)) within += bytes;
    }
    EXPECT_LE(within, kLimit + 3 * kReadBufferSize);
  }
}

// Checked block by block: a block spoiled on the way is fetched again alone, and what is handed
// on is only ever checked bytes, in order; a block that stays wrong ends the download there.
TEST_F(DownloadTest, ABlockSpoiledOnTheWayIsFetchedAgainAlone) {
  constexpr std::uint64_t kBlock = 65536;
  const std::string content = Pattern(5 * kBlock + 100);
  BlockList list{kBlock, {}};
  for (std::uint64_t at = 0; at < content.size(); at += kBlock) {
    list.blocks.push_back(DigestOf(std::string_view(content).substr(at, kBlock)));
  }
  std::string spoiled = content;
  spoiled[2 * kBlock + 7] ^= 1;
  for (const bool rangesToo : {false, true}) {
    SCOPED_TRACE(rangesToo ? "spoiled again when fetched alone" : "spoiled once");
    std::filesystem::remove(file_);
    const std::size_t before = server_.Requests().size();
    server_.Route("/file.bin", [&](const support::Request& request) {
      if (request.Header("range")) return ServeFile(rangesToo ? spoiled : content)(request);
      return Always(Response{.body = spoiled})(request);
    });
    std::string handedOn;
    const std::wstring failure = support::FailureOf([&] {
      Download(server_.Url("/file.bin"), content.size(), Sha256Hex(content), file_,
               [](std::uint64_t) {}, false,
               {[&](std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
                  EXPECT_EQ(offset, handedOn.size());
                  handedOn.append(reinterpret_cast<const char*>(bytes), count);
                },
                &list});
    });
    if (rangesToo) {
      EXPECT_TRUE(failure.starts_with(L"The download isn't the release")) << Narrow(failure);
      EXPECT_TRUE(handedOn == content.substr(0, 2 * kBlock)) << handedOn.size();
    } else {
      EXPECT_EQ(failure, L"");
      EXPECT_TRUE(handedOn == content) << handedOn.size();
    }
    // The whole file once, then the spoiled block alone (twice when it stays spoiled).
    const std::vector<support::Request> requests = server_.Requests();
    ASSERT_EQ(requests.size() - before, rangesToo ? 3u : 2u);
    EXPECT_EQ(requests[before].Header("range"), std::nullopt);
    EXPECT_EQ(requests[before + 1].Header("range"), "bytes=131072-196607");
  }
}

TEST_F(DownloadTest, AnUpdatePastItsDeadlineAsksForNothingMore) {
  const support::ScopedTransfers quick(
      [](TransferSettings& settings) { settings.slowWindow = std::chrono::milliseconds(10); });
  const std::string content = Pattern(5000);
  server_.Route("/file.bin", ServeFile(content));
  {
    const UpdateDeadline deadline(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_THROW(DownloadWithRetries(
                     server_.Url("/file.bin"), content.size(), Sha256Hex(content), file_,
                     [](std::uint64_t) {}, [](std::chrono::milliseconds) {}),
                 PastDeadline);
    EXPECT_TRUE(server_.Requests().empty());
  }
  // Over with the update: the next one has all the time it needs.
  EXPECT_EQ(Run(ReleaseOf(content)), L"");
}

TEST_F(DownloadTest, ACompleteFileAlreadyThereNeedsNoRequest) {
  const std::string content = Pattern(5000);
  folder_.Write("file.bin.part", content);
  EXPECT_EQ(Run(ReleaseOf(content)), L"");
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_TRUE(progress_.empty());
  EXPECT_TRUE(ReadFile(file_) == content);
}

TEST_F(DownloadTest, ALongerStaleFileIsReplaced) {
  const std::string content = Pattern(5000);
  folder_.Write("file.bin.part", Pattern(6000, 3));
  server_.Route("/file.bin", ServeFile(content));
  EXPECT_EQ(Run(ReleaseOf(content)), L"");
  EXPECT_EQ(Range(0), std::nullopt);
  EXPECT_TRUE(ReadFile(file_) == content);
}

TEST_F(DownloadTest, AnEmptyReleaseIsCreatedWithoutARequest) {
  EXPECT_EQ(Run(ReleaseOf("")), L"");
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_TRUE(std::filesystem::exists(file_));
  EXPECT_EQ(std::filesystem::file_size(file_), 0u);
}

TEST_F(DownloadTest, ACutOffDownloadIsResumedByTheNextCall) {
  const std::string content = Pattern(300000);
  server_.Route("/file.bin", ServeFile(content, FileFaults{.cutAfter = 120000}));
  const std::wstring message = Run(ReleaseOf(content));
  EXPECT_TRUE(message.starts_with(L"The download was cut off: "))
      << ::testing::PrintToString(message);
  EXPECT_TRUE(ReadFile(file_) == content.substr(0, 120000));

  server_.Route("/file.bin", ServeFile(content));
  EXPECT_EQ(Run(ReleaseOf(content)), L"");
  EXPECT_EQ(Range(1), "bytes=120000-");
  EXPECT_EQ(progress_.front(), 120000u);
  EXPECT_TRUE(ReadFile(file_) == content);
}

TEST_F(DownloadTest, StoppedFromProgressPassesThroughAndKeepsTheBytes) {
  const std::string content = Pattern(400000);
  server_.Route("/file.bin", ServeFile(content, FileFaults{.chunk = 65536}));
  std::uint64_t seen = 0;
  EXPECT_THROW(Download(server_.Url("/file.bin"), content.size(), Sha256Hex(content), file_,
                        [&](std::uint64_t written) {
                          seen = written;
                          if (written > 0) throw Stopped{};
                        }),
               Stopped);
  ASSERT_GT(seen, 0u);
  EXPECT_TRUE(ReadFile(file_) == content.substr(0, seen));
}

TEST_F(DownloadTest, AFileThatCantBeOpenedForWriting) {
  const std::string content = Pattern(100);
  server_.Route("/file.bin", ServeFile(content));
  file_ = folder_.path() / "no-such-folder" / "file.bin";
  EXPECT_EQ(Run(ReleaseOf(content)), L"The download couldn't be written");
}

}  // namespace
}  // namespace launcher
