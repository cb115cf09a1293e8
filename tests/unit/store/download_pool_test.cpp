#include "launcher/store/download_pool.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "launcher/text/failure.h"
#include "launcher/text/text.h"
#include "launcher/transfer/sha256.h"
#include "support/failure_of.h"
#include "support/scripted_server.h"
#include "support/temporary_folder.h"

namespace launcher {
namespace {

using support::FileFaults;
using support::ReadFile;
using support::ScriptedServer;
using support::ServeFile;

class DownloadPoolTest : public ::testing::Test {
 protected:
  // Lists `count` files of distinct content and serves each under files/<sha256>.bin.
  void Publish(int count, FileFaults faults = {}) {
    for (int i = 0; i < count; ++i) {
      std::string content(1000 + 997 * i, static_cast<char>('a' + i % 26));
      content += std::to_string(i);
      const Digest digest = DigestOf(content);
      listed_.push_back(
          {"data/" + std::to_string(i % 3) + "/file" + std::to_string(i), digest, content.size()});
      contents_.push_back(content);
      server_.Route("/files/" + digest.Text() + ".bin", ServeFile(content, faults));
      toFetch_.push_back(listed_.size() - 1);
    }
    for (int folder = 0; folder < 3; ++folder) {
      std::filesystem::create_directories(staging_ / "data" / std::to_string(folder));
    }
    std::filesystem::create_directories(parts_);
  }

  std::wstring Run() {
    return support::FailureOf([&] {
      RunDownloadPool(toFetch_, listed_, staging_, parts_, server_.Url("/"),
                      [this](Stage stage, std::uint64_t done, std::uint64_t total) {
                        EXPECT_EQ(stage, Stage::Downloading);
                        EXPECT_TRUE(reporting_.try_lock()) << "two reports at once";
                        reports_.emplace_back(done, total);
                        threads_.insert(std::this_thread::get_id());
                        reporting_.unlock();
                      });
    });
  }

  std::filesystem::path Placed(std::size_t i) const {
    return staging_ / PathFromWide(Widen(listed_[i].path));
  }
  std::filesystem::path Part(std::size_t i) const { return PartFileOf(parts_, listed_[i].sha256); }

  std::map<std::string, int> RequestsPerPath() const {
    std::map<std::string, int> count;
    for (const auto& request : server_.Requests()) ++count[request.path];
    return count;
  }

  ScriptedServer server_;
  support::TemporaryFolder folder_;
  std::filesystem::path staging_ = folder_.path() / "1.4.0.partial";
  std::filesystem::path parts_ = folder_.path() / "1.4.0.parts";
  std::vector<Listed> listed_;
  std::vector<std::string> contents_;
  std::vector<std::size_t> toFetch_;
  std::mutex reporting_;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> reports_;
  std::set<std::thread::id> threads_;
};

TEST_F(DownloadPoolTest, NothingToFetchStillReportsOnce) {
  EXPECT_EQ(Run(), L"");
  EXPECT_EQ(reports_, (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{0, 0}}));
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(DownloadPoolTest, OneFileIsFetchedOnTheCallingThread) {
  Publish(1);
  EXPECT_EQ(Run(), L"");
  EXPECT_TRUE(ReadFile(Placed(0)) == contents_[0]);
  EXPECT_EQ(threads_, std::set<std::thread::id>{std::this_thread::get_id()});
}

TEST_F(DownloadPoolTest, TwentyFilesEachOnceOnAtMostSixThreads) {
  Publish(20, FileFaults{.stall = std::chrono::milliseconds(40), .chunk = 4096});
  EXPECT_EQ(Run(), L"");
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < listed_.size(); ++i) {
    EXPECT_TRUE(ReadFile(Placed(i)) == contents_[i]) << i;
    EXPECT_FALSE(std::filesystem::exists(Part(i))) << i;
    total += listed_[i].size;
  }
  for (const auto& [path, count] : RequestsPerPath()) EXPECT_EQ(count, 1) << path;
  EXPECT_EQ(server_.Requests().size(), 20u);
  EXPECT_LE(threads_.size(), kMaxDownloadWorkers);
  EXPECT_LE(server_.MostAnswersAtOnce(), 6);
  EXPECT_GE(server_.MostAnswersAtOnce(), 2);  // they did run side by side
  EXPECT_EQ(reports_.front(), std::make_pair(std::uint64_t{0}, total));
  EXPECT_EQ(reports_.back(), std::make_pair(total, total));
}

TEST_F(DownloadPoolTest, AWrongFileAtTheDestinationIsReplaced) {
  Publish(2);
  folder_.Write(Placed(1).lexically_relative(folder_.path()), "stale bytes of another release");
  EXPECT_EQ(Run(), L"");
  EXPECT_TRUE(ReadFile(Placed(1)) == contents_[1]);
}

TEST_F(DownloadPoolTest, OneContentIsFetchedOnceForAllItsPathsAndNoPathMeetsADownload) {
  Publish(2);
  // A second path of the first content, and a path named like a download of the second.
  listed_.push_back({"data/2/copy of file0", listed_[0].sha256, listed_[0].size});
  listed_.push_back({listed_[1].path + ".part", listed_[0].sha256, listed_[0].size});
  toFetch_ = {0, 1, 2, 3};
  EXPECT_EQ(Run(), L"");
  for (const std::size_t i : {0, 2, 3}) EXPECT_TRUE(ReadFile(Placed(i)) == contents_[0]) << i;
  EXPECT_TRUE(ReadFile(Placed(1)) == contents_[1]);
  EXPECT_EQ(server_.Requests().size(), 2u);
  const std::uint64_t total = listed_[0].size + listed_[1].size;  // each content counts once
  EXPECT_EQ(reports_.back(), std::make_pair(total, total));
}

TEST_F(DownloadPoolTest, TheFirstFailureStopsTheOthersAndLeavesTheirWork) {
  Publish(12, FileFaults{.stall = std::chrono::milliseconds(150), .chunk = 1000});
  // The fourth file is gone from the server.
  server_.Route("/files/" + listed_[3].sha256.Text() + ".bin", support::Always({.status = 404}));
  EXPECT_EQ(Run(), L"The server answered 404");
  EXPECT_LT(server_.Requests().size(), 12u);  // the rest were never asked for
  for (std::size_t i = 0; i < listed_.size(); ++i) {
    // Every finished file stays in place; nothing is left both finished and partial.
    if (std::filesystem::exists(Placed(i))) {
      EXPECT_TRUE(ReadFile(Placed(i)) == contents_[i]) << i;
      EXPECT_FALSE(std::filesystem::exists(Part(i))) << i;
    }
  }
}

TEST_F(DownloadPoolTest, AProgressCallbackThatThrowsEndsThePool) {
  Publish(3);
  EXPECT_THROW(RunDownloadPool(toFetch_, listed_, staging_, parts_, server_.Url("/"),
                               [](Stage, std::uint64_t done, std::uint64_t) {
                                 if (done > 0) throw std::runtime_error("window gone");
                               }),
               std::runtime_error);
}

}  // namespace
}  // namespace launcher
