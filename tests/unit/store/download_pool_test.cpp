#include "launcher/store/download_pool.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "launcher/text/failure.h"
#include "launcher/text/text.h"
#include "launcher/transfer/sha256.h"
#include "support/failure_of.h"
#include "support/scripted_server.h"
#include "support/temporary_folder.h"
#include "tools/publish/server/zstd_pack.h"

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

// Each file's smaller forms are tried in turn and the raw blob is asked for only when none of them
// makes the listed bytes: a patch that makes other bytes, a packed blob served longer than listed
// (cut off where the list says it ends) and one that unpacks past the listed size all give way.
TEST_F(DownloadPoolTest, EachContentComesInTheSmallestFormThatMakesIt) {
  Publish(5);
  const std::string base = contents_[0] + " as the player has it";
  const auto reference = folder_.Write("installed/file", base);
  const auto packed = [](const std::string& bytes) { return publish::PackBytes(bytes); };
  const auto patched = [&](const std::string& bytes) { return publish::PackBytes(bytes, base); };
  struct Row {
    const char* name;
    std::optional<std::string> patch;
    std::optional<std::string> packedBlob;
    std::string served;  // of the packed blob, when it differs from what is listed
    bool rawAskedFor;
  };
  const std::vector<Row> rows = {
      {"a patch that makes the file", patched(contents_[0]), packed(contents_[0]), {}, false},
      {"a patch that makes other bytes: the packed blob",
       patched(contents_[0]),
       packed(contents_[1]),
       {},
       false},
      {"a packed blob served longer than listed: the raw blob", std::nullopt, packed(contents_[2]),
       packed(contents_[2]) + "more", true},
      {"a packed blob that unpacks past the listed size: the raw blob",
       std::nullopt,
       packed(contents_[3] + std::string(1 << 20, 'x')),
       {},
       true},
      {"no smaller form", std::nullopt, std::nullopt, {}, true},
  };
  std::vector<StoredForm> forms;  // patch and packed blob of each row, addresses kept below
  forms.reserve(2 * rows.size());
  std::vector<Patch> patches;
  patches.reserve(rows.size());
  std::vector<FetchForms> fetchForms(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    const std::string blob = "/files/" + listed_[i].sha256.Text();
    if (row.patch) {
      patches.push_back({DigestOf(base), base.size(), {DigestOf(*row.patch), row.patch->size()}});
      fetchForms[i].patch = &patches.back();
      fetchForms[i].reference = reference;
      server_.Route(blob + "-" + DigestOf(base).Text() + ".patch", ServeFile(*row.patch));
    }
    if (row.packedBlob) {
      forms.push_back({DigestOf(*row.packedBlob), row.packedBlob->size()});
      fetchForms[i].packed = &forms.back();
      server_.Route(blob + ".zst", ServeFile(row.served.empty() ? *row.packedBlob : row.served));
    }
  }
  EXPECT_EQ(support::FailureOf([&] {
              RunDownloadPool(
                  toFetch_, listed_, staging_, parts_, server_.Url("/"),
                  [](Stage, std::uint64_t, std::uint64_t) {}, fetchForms);
            }),
            L"");
  const std::map<std::string, int> requests = RequestsPerPath();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    EXPECT_TRUE(ReadFile(Placed(i)) == contents_[i]);
    EXPECT_EQ(requests.count("/files/" + listed_[i].sha256.Text() + ".bin"), rows[i].rawAskedFor);
  }
  std::uint64_t leftInParts = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(parts_)) {
    leftInParts += entry.is_regular_file() ? 1 : 0;
  }
  EXPECT_EQ(leftInParts, 0u);
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
