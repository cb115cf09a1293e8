#include "launcher/update/prepare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "launcher/store/version_record.h"
#include "launcher/text/failure.h"
#include "launcher/text/product.h"
#include "launcher/text/text.h"
#include "launcher/text/website.h"
#include "launcher/transfer/sha256.h"
#include "support/failure_of.h"
#include "support/scoped_transfers.h"
#include "support/scripted_server.h"
#include "support/system_tar.h"
#include "support/tar_writer.h"
#include "support/temporary_folder.h"
#include "tools/publish/signing/signing.h"

namespace launcher {
namespace {

using support::ServeFile;

const std::filesystem::path kKeys = LAUNCHER_TEST_KEYS_DIR;

class PrepareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    support::ProvideSystemTar();
    std::filesystem::create_directories(temporary_);
  }

  // Serves a release archive holding the game and returns the feed members that name it.
  std::string PublishRelease(const std::string& version) {
    const std::string archive = support::MakeTar({{"Quellorn.exe", "game " + version}});
    const std::string file = "Quellorn-" + version + ".tar";
    server_.Route("/feed/" + file, ServeFile(archive));
    return "\"version\":\"" + version + "\",\"file\":\"" + file + "\",\"sha256\":\"" +
           Narrow(Sha256Hex(archive)) + "\",\"size\":" + std::to_string(archive.size());
  }

  std::string PublishLauncher(const std::string& version, const std::string& bytes,
                              const std::string& promisedDigest = "") {
    const std::string file = "Quellorn-Launcher-" + version + ".exe";
    server_.Route("/feed/" + file, ServeFile(bytes));
    const std::string digest = promisedDigest.empty() ? Narrow(Sha256Hex(bytes)) : promisedDigest;
    return "\"launcherVersion\":\"" + version + "\",\"launcherFile\":\"" + file +
           "\",\"launcherSha256\":\"" + digest +
           "\",\"launcherSize\":" + std::to_string(bytes.size());
  }

  void ServeFeed(const std::string& members) {
    server_.Route("/feed/latest.json", ServeFile("{" + members + "}"));
  }

  void MakeInstalled(const std::string& version) {
    folder_.Write("Client/" + version + "/Quellorn.exe", "game " + version);
    folder_.Write("Client/current.txt", version);
  }

  // The outcome, or the failure's message in `failure`.
  Ready Run(bool launcherUpdateAllowed = true, bool repair = false) {
    reports_.clear();
    failure_.clear();
    try {
      return Prepare(
          server_.Url("/feed/latest.json"), store_,
          [this](const Progress& progress) { reports_.push_back(progress); }, launcherUpdateAllowed,
          temporary_, BuiltInTrust(), repair);
    } catch (const Failure& failure) {
      failure_ = failure.message;
      return {};
    }
  }

  bool Requested(const std::string& path) const {
    for (const auto& request : server_.Requests()) {
      if (request.path == path) return true;
    }
    return false;
  }

  // Transient faults are tried again, but not with seconds between.
  const support::ScopedTransfers quick_{[](TransferSettings& settings) {
    settings.retryWaits = {std::chrono::milliseconds(1), std::chrono::milliseconds(1)};
  }};
  support::ScriptedServer server_;
  support::TemporaryFolder folder_;
  ClientStore store_{folder_.path() / "Client"};
  std::filesystem::path temporary_ = folder_.path() / "tmp";
  std::vector<Progress> reports_;
  std::wstring failure_;
};

TEST_F(PrepareTest, WithoutAFeedTheInstalledVersionStartsElseThePlayerIsToldToCheck) {
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json);
    if (json) server_.Route("/feed/latest.json", ServeFile("<html>not a feed</html>"));
    // The host the launcher asked, not the website's.
    const std::wstring reach = L"Couldn't reach 127.0.0.1. Check your connection and try again.";
    std::filesystem::remove_all(store_.root);
    Run();
    EXPECT_EQ(failure_, reach);

    MakeInstalled("1.0.0");
    const Ready ready = Run();
    EXPECT_EQ(failure_, L"");
    EXPECT_EQ(ready.path, store_.Executable(L"1.0.0"));
    EXPECT_FALSE(ready.isInstaller);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].text, L"Looking for updates\u2026");
    EXPECT_FALSE(reports_[0].fraction.has_value());
  }
}

TEST_F(PrepareTest, ANewerLauncherIsDownloadedAndNothingElseIsTouched) {
  MakeInstalled("1.0.0");
  ServeFeed(PublishRelease("1.1.0") + "," + PublishLauncher("2.3.0", std::string(3145728, 'L')));
  const Ready ready = Run();
  EXPECT_EQ(failure_, L"");
  EXPECT_TRUE(ready.isInstaller);
  // In a folder of its own, made afresh; held open until it is started.
  EXPECT_EQ(ready.path.filename(), "Quellorn-Launcher-2.3.0.exe");
  EXPECT_EQ(ready.path.parent_path().parent_path(), temporary_);
  EXPECT_TRUE(ready.path.parent_path().filename().string().starts_with("Quellorn-Launcher-"));
  EXPECT_TRUE(ready.held);
  EXPECT_EQ(std::filesystem::file_size(ready.path), 3145728u);
  EXPECT_EQ(store_.Current(), L"1.0.0");
  EXPECT_FALSE(Requested("/feed/Quellorn-1.1.0.tar"));
  const auto& last = reports_.back();
  EXPECT_EQ(last.text, L"Updating the launcher to 2.3.0\u2026 3.0 of 3.0 MB");
  EXPECT_EQ(last.fraction, 1.0);
}

TEST_F(PrepareTest, LauncherUpdatesThatDontHappen) {
  struct Case {
    const char* name;
    std::string launcher;
    bool allowed;
  };
  const Case cases[] = {
      {"same version", PublishLauncher(Narrow(kOwnVersion), "installer"), true},
      {"older version", PublishLauncher("2.1.9", "installer"), true},
      {"not allowed", PublishLauncher("2.3.0", "installer"), false},
      {"unusable", "\"launcherVersion\":\"2.3.0\"", true},
      {"wrong digest", PublishLauncher("2.4.0", "installer", std::string(64, 'a')), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(store_.root);
    ServeFeed(PublishRelease("1.1.0") + "," + c.launcher);
    const Ready ready = Run(c.allowed);
    EXPECT_EQ(failure_, L"");
    EXPECT_FALSE(ready.isInstaller);
    EXPECT_EQ(ready.path, store_.Executable(L"1.1.0"));
    EXPECT_EQ(store_.Current(), L"1.1.0");
    EXPECT_TRUE(std::filesystem::is_empty(temporary_));  // a failed installer is deleted
  }
}

TEST_F(PrepareTest, AnUnusableReleaseStartsTheInstalledVersionUnpruned) {
  ServeFeed("\"version\":\"1.1.0\",\"file\":\"x.tar\",\"sha256\":\"" + std::string(64, 'a') +
            "\",\"size\":0");
  Run();
  EXPECT_EQ(failure_, L"The update server answered with nothing to install. Try again later.");
  MakeInstalled("1.0.0");
  folder_.Write("Client/0.9.0/Quellorn.exe", "an older version");
  EXPECT_EQ(Run().path, store_.Executable(L"1.0.0"));
  EXPECT_TRUE(std::filesystem::exists(store_.root / "0.9.0"));
}

TEST_F(PrepareTest, TheInstalledReleaseInOtherLetterCaseIsKeptAndPruned) {
  MakeInstalled("1.0.0-RC");
  folder_.Write("Client/0.9.0/Quellorn.exe", "an older version");
  ServeFeed(PublishRelease("1.0.0-rc"));
  EXPECT_EQ(Run().path, store_.Executable(L"1.0.0-RC"));
  EXPECT_FALSE(std::filesystem::exists(store_.root / "0.9.0"));
  EXPECT_FALSE(Requested("/feed/Quellorn-1.0.0-rc.tar"));
}

TEST_F(PrepareTest, AFirstInstallIsCheckedAgainstTheFileList) {
  // A list that the archive matches, then one naming a file the archive doesn't hold.
  for (const std::string& extra : {std::string(), Narrow(Sha256Hex("x")) + "\t1\tdata/x.pak\n"}) {
    std::filesystem::remove_all(store_.root);
    const std::string list = Narrow(Sha256Hex("game 1.1.0")) + "\t10\tQuellorn.exe\n" + extra;
    server_.Route("/feed/files.txt", ServeFile(list));
    ServeFeed(PublishRelease("1.1.0") + ",\"files\":\"files.txt\",\"filesSha256\":\"" +
              Narrow(Sha256Hex(list)) + "\"");
    const Ready ready = Run();
    EXPECT_TRUE(Requested("/feed/files.txt"));
    if (extra.empty()) {
      EXPECT_EQ(failure_, L"");
      EXPECT_EQ(ready.path, store_.Executable(L"1.1.0"));
      ASSERT_GE(reports_.size(), 3u);
      EXPECT_TRUE(reports_[reports_.size() - 2].text.starts_with(L"Downloading Quellorn\u2026"));
      EXPECT_EQ(reports_.back().text, L"Unpacking Quellorn\u2026");
    } else {
      EXPECT_EQ(failure_, L"The download failed. The release's data/x.pak didn't arrive.");
      EXPECT_EQ(store_.Current(), L"");
      EXPECT_FALSE(std::filesystem::exists(store_.root / "1.1.0.partial"));
    }
  }
}

// The archive is never unpacked unchecked: a release whose named list can't be used is refused.
TEST_F(PrepareTest, AFileListThatIsntTheFeedsRefusesTheRelease) {
  const std::string list = Narrow(Sha256Hex("game 1.1.0")) + "\t10\tQuellorn.exe\n";
  server_.Route("/feed/files.txt", ServeFile(list));
  for (const bool installed : {true, false}) {
    SCOPED_TRACE(installed ? "installed" : "nothing installed");
    std::filesystem::remove_all(store_.root);
    if (installed) MakeInstalled("1.0.0");
    ServeFeed(PublishRelease("1.1.0") + ",\"files\":\"files.txt\",\"filesSha256\":\"" +
              std::string(64, 'b') + "\"");
    const Ready ready = Run();
    EXPECT_EQ(failure_, installed ? L""
                                  : L"The download failed. The release's file list isn't the one "
                                    L"the feed names.");
    if (installed) {
      EXPECT_EQ(ready.path, store_.Executable(L"1.0.0"));
    }
    EXPECT_TRUE(Requested("/feed/files.txt"));
    EXPECT_FALSE(Requested("/feed/Quellorn-1.1.0.tar"));
  }
  // A name that isn't plain isn't even asked for.
  MakeInstalled("1.0.0");
  ServeFeed(PublishRelease("1.2.0") + ",\"files\":\"lists/files.txt\",\"filesSha256\":\"x\"");
  EXPECT_EQ(Run().path, store_.Executable(L"1.0.0"));
  EXPECT_FALSE(Requested("/feed/lists/files.txt"));
  EXPECT_FALSE(Requested("/feed/Quellorn-1.2.0.tar"));
}

TEST_F(PrepareTest, AnUpToDateVersionIsRepairedByItsRecordOrByHashingWhenAsked) {
  const std::vector<support::TarEntry> files = {{"Quellorn.exe", "game 1.1.0"},
                                                {"data", "", '5'},
                                                {"data/a.pak", std::string(5000, 'a')},
                                                {"data/b.pak", std::string(7000, 'b')},
                                                {"data/c.pak", "ccc"}};
  std::string list;
  for (const auto& file : files) {
    if (file.type != '0') continue;
    list += Narrow(Sha256Hex(file.content)) + "\t" + std::to_string(file.content.size()) + "\t" +
            file.name + "\n";
    server_.Route("/feed/files/" + Narrow(Sha256Hex(file.content)) + ".bin",
                  ServeFile(file.content));
  }
  const std::string archive = support::MakeTar(files);
  server_.Route("/feed/game.tar", ServeFile(archive));
  server_.Route("/feed/files.txt", ServeFile(list));
  ServeFeed("\"version\":\"1.1.0\",\"file\":\"game.tar\",\"sha256\":\"" +
            Narrow(Sha256Hex(archive)) + "\",\"size\":" + std::to_string(archive.size()) +
            ",\"files\":\"files.txt\",\"filesSha256\":\"" + Narrow(Sha256Hex(list)) + "\"");
  ASSERT_EQ(Run().path, store_.Executable(L"1.1.0"));
  const std::filesystem::path game = store_.root / "1.1.0";
  const auto blobsFetched = [&](std::size_t since) {
    std::set<std::string> names;
    const auto requests = server_.Requests();
    for (std::size_t i = since; i < requests.size(); ++i) {
      if (requests[i].path.starts_with("/feed/files/")) names.insert(requests[i].path.substr(12));
    }
    return names;
  };
  const auto blob = [](const std::string& content) { return Narrow(Sha256Hex(content)) + ".bin"; };

  // Deleted, and changed in size: both noticed by the record alone and fetched again.
  std::filesystem::remove(game / "data/a.pak");
  folder_.Write("Client/1.1.0/data/b.pak", "shorter");
  std::size_t before = server_.Requests().size();
  EXPECT_EQ(Run().path, store_.Executable(L"1.1.0"));
  EXPECT_EQ(blobsFetched(before),
            (std::set{blob(std::string(5000, 'a')), blob(std::string(7000, 'b'))}));
  EXPECT_EQ(support::ReadFile(game / "data/a.pak"), std::string(5000, 'a'));
  EXPECT_EQ(support::ReadFile(game / "data/b.pak"), std::string(7000, 'b'));
  EXPECT_TRUE(std::any_of(reports_.begin(), reports_.end(), [](const Progress& p) {
    return p.text.starts_with(L"Repairing Quellorn\u2026");
  }));

  // Other bytes at the same size and time pass the record; hashing every file finds them.
  // (A time in whole seconds, which the library sets exactly on both builds, recorded anew.)
  const auto time = std::chrono::floor<std::chrono::seconds>(last_write_time(game / "data/c.pak"));
  last_write_time(game / "data/c.pak", time);
  ASSERT_TRUE(WriteRecord(store_.root / "1.1.0.record", game, ParseFileList(list)));
  folder_.Write("Client/1.1.0/data/c.pak", "xxx");
  last_write_time(game / "data/c.pak", time);
  before = server_.Requests().size();
  Run();
  EXPECT_EQ(blobsFetched(before), std::set<std::string>{});
  EXPECT_EQ(Run(true, true).path, store_.Executable(L"1.1.0"));
  EXPECT_EQ(blobsFetched(before), std::set{blob("ccc")});
  EXPECT_EQ(support::ReadFile(game / "data/c.pak"), "ccc");

  // A file rewritten in place leaves its folder's stamp: the start looks at the folders alone and
  // passes it. Once a name in that folder changes, the start looks at every file and finds it.
  folder_.Write("Client/1.1.0/data/b.pak", std::string(7000, 'B'));
  before = server_.Requests().size();
  Run();
  EXPECT_EQ(blobsFetched(before), std::set<std::string>{});
  folder_.Write("Client/1.1.0/data/notes.txt", "the player's");
  Run();
  EXPECT_EQ(blobsFetched(before), std::set{blob(std::string(7000, 'b'))});
  EXPECT_EQ(support::ReadFile(game / "data/b.pak"), std::string(7000, 'b'));

  // Without the feed nothing can be fetched: the game starts as it is.
  std::filesystem::remove(game / "data/a.pak");
  server_.Route("/feed/latest.json", support::Always({.status = 404}));
  before = server_.Requests().size();
  EXPECT_EQ(Run().path, store_.Executable(L"1.1.0"));
  EXPECT_EQ(blobsFetched(before), std::set<std::string>{});
}

TEST_F(PrepareTest, AFailedInstallFallsBackOrSaysWhatWentWrong) {
  server_.Route("/feed/Quellorn-1.1.0.tar", support::Always({.status = 500}));
  ServeFeed("\"version\":\"1.1.0\",\"file\":\"Quellorn-1.1.0.tar\",\"sha256\":\"" +
            std::string(64, 'a') + "\",\"size\":10");
  Run();
  EXPECT_EQ(failure_, L"The download failed. The server answered 500.");
  MakeInstalled("1.0.0");
  EXPECT_EQ(Run().path, store_.Executable(L"1.0.0"));
  EXPECT_EQ(failure_, L"");

  // The store can't be made: a file stands where its folder would go.
  folder_.Write("blocked", "a file");
  const ClientStore blocked(folder_.path() / "blocked" / "Client");
  ServeFeed(PublishRelease("1.1.0"));
  const std::wstring message = support::FailureOf([&] {
    Prepare(
        server_.Url("/feed/latest.json"), blocked, [](const Progress&) {}, true, temporary_);
  });
  EXPECT_TRUE(message.starts_with(L"Quellorn's folder can't be written: ")) << Narrow(message);
  EXPECT_EQ(message.find(L"filesystem error"), std::wstring::npos) << Narrow(message);
  EXPECT_TRUE(message.ends_with(L"."));
}

// A crawl is a stall: tried again where it stood, then given up on for this start, with the
// installed version started and the player told why; what arrived stays for the next start.
TEST_F(PrepareTest, ADownloadThatCrawlsStartsTheInstalledVersion) {
  const support::ScopedTransfers quick([](TransferSettings& settings) {
    settings.slowestRate = 20000;
    settings.slowWindow = std::chrono::milliseconds(400);
    settings.retryWaits = {std::chrono::milliseconds(10)};
  });
  const std::string archive = support::MakeTar({{"Quellorn.exe", std::string(100000, 'g')}});
  server_.Route("/feed/Quellorn-1.1.0.tar",
                ServeFile(archive, {.chunk = 100, .pause = std::chrono::milliseconds(50)}));
  ServeFeed("\"version\":\"1.1.0\",\"file\":\"Quellorn-1.1.0.tar\",\"sha256\":\"" +
            Narrow(Sha256Hex(archive)) + "\",\"size\":" + std::to_string(archive.size()));
  MakeInstalled("1.0.0");
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Run().path, store_.Executable(L"1.0.0"));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_EQ(reports_.back().text,
            L"Downloading is too slow right now: starting Quellorn 1.0.0, the update goes on next "
            L"time\u2026");
  std::size_t asked = 0;
  for (const auto& request : server_.Requests())
    asked += request.path == "/feed/Quellorn-1.1.0.tar";
  EXPECT_EQ(asked, 2u);  // once, and once more from where it stood
  EXPECT_GT(std::filesystem::file_size(store_.root / "1.1.0.download"), 0u);
  std::filesystem::remove_all(store_.root);
  Run();
  EXPECT_TRUE(failure_.starts_with(L"The download failed. The download was cut off: less than"))
      << Narrow(failure_);
}

TEST_F(PrepareTest, ASignedLauncherBelievesOnlyTheFreshSignedFeed) {
  const publish::PrivateKey first = publish::ReadPrivateKey(kKeys / "first.pem");
  const publish::PrivateKey second = publish::ReadPrivateKey(kKeys / "second.pem");
  const auto now = std::chrono::sys_days(std::chrono::year(2027) / 1 / 1);
  const FeedTrust trust{{first.publicKey, second.publicKey}, std::nullopt, [&] { return now; }};
  struct Case {
    const char* name;
    std::string extra;  // feed members besides the release's
    std::function<std::string(const std::string& feed)> signatures;
    bool swapArchive = false;  // the archive replaced on the server after signing
    std::wstring fresh;        // the failure with nothing installed; empty: it installs
  };
  const std::string fine =
      ",\"product\":\"Quellorn\",\"sequence\":9,\"expires\":\"2027-01-05T00:00:00Z\"";
  // The key is kept by value: one made for a single case is gone before the case runs.
  const auto by = [](const publish::PrivateKey& key) {
    return [key](const std::string& text) {
      const Signature signature = publish::Sign(key, text);
      return HexOf(signature.data(), signature.size());
    };
  };
  const std::wstring untrusted =
      L"The update server's answer couldn't be trusted. Try again later.";
  const Case cases[] = {
      {"signed", fine, by(first), false, L""},
      {"by the second key", fine, by(second), false, L""},
      {"no signature", fine, nullptr, false, untrusted},
      {"another key", fine, by(publish::GenerateKey()), false, untrusted},
      {"changed after signing", fine,
       [&](const std::string& text) { return by(first)(text + "x"); }, false, untrusted},
      {"replayed", ",\"product\":\"Quellorn\",\"sequence\":8,\"expires\":\"2027-01-05T00:00:00Z\"",
       by(first), false, untrusted},
      {"expired", ",\"product\":\"Quellorn\",\"sequence\":9,\"expires\":\"2026-12-30T00:00:00Z\"",
       by(first), false, untrusted},
      {"another product",
       ",\"product\":\"Other\",\"sequence\":9,\"expires\":\"2027-01-05T00:00:00Z\"", by(first),
       false, untrusted},
      {"archive swapped", fine, by(first), true,
       L"The download failed. The download isn't the release the update server names: its SHA-256 "
       L"differs."},
  };
  for (const bool installed : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (installed ? ", installed" : ", fresh"));
      std::filesystem::remove_all(store_.root);
      if (installed) MakeInstalled("1.0.0");
      ASSERT_TRUE(store_.AcceptSequence(9));
      std::string feed = "{";
      feed += PublishRelease("1.1.0");
      feed += c.extra;
      feed += "}";
      server_.Route("/feed/latest.json", ServeFile(feed));
      if (c.signatures) {
        server_.Route("/feed/latest.json.sig", ServeFile(c.signatures(feed) + "\n"));
      } else {
        server_.Route("/feed/latest.json.sig", support::Always({.status = 404}));
      }
      if (c.swapArchive) {
        // The same size, other bytes: another release's archive served under this one's name.
        server_.Route("/feed/Quellorn-1.1.0.tar",
                      ServeFile(support::MakeTar({{"Quellorn.exe", "game 6.6.6"}})));
      }
      Ready ready;
      failure_ = support::FailureOf([&] {
        ready = Prepare(
            server_.Url("/feed/latest.json"), store_, [](const Progress&) {}, true, temporary_,
            trust);
      });
      if (installed) {
        EXPECT_EQ(failure_, L"");
        EXPECT_EQ(ready.path, store_.Executable(c.fresh.empty() ? L"1.1.0" : L"1.0.0"));
      } else {
        EXPECT_EQ(failure_, c.fresh);
      }
      EXPECT_EQ(store_.Current(), c.fresh.empty() ? L"1.1.0" : (installed ? L"1.0.0" : L""));
      EXPECT_EQ(store_.AcceptedSequence(), 9u);
    }
  }
}

TEST(ReportProgress, TextsAndFractions) {
  std::vector<Progress> reports;
  const ProgressCallback progress = [&](const Progress& p) { reports.push_back(p); };
  const std::wstring title = L"Updating to 1.4.0";
  ReportInstallProgress install{title, progress};
  install(Stage::Keeping, 0, 0);
  install(Stage::Downloading, 1572864, 3145728);
  install(Stage::Downloading, 0, 0);
  install(Stage::Unpacking, 0, 0);
  const Release launcher{L"2.3.0", L"Quellorn-Launcher-2.3.0.exe", std::wstring(64, L'a'), 3145728};
  ReportLauncherProgress{launcher, progress, 3.0}(1572864);
  ASSERT_EQ(reports.size(), 5u);
  // Nothing to count: no "0 of 0 MB" and no bar.
  EXPECT_EQ(reports[0].text, L"Updating to 1.4.0: keeping what hasn't changed\u2026");
  EXPECT_EQ(reports[0].fraction, std::nullopt);
  EXPECT_EQ(reports[1].text, L"Updating to 1.4.0\u2026 1.5 of 3.0 MB");  // tenths below 10 MB
  EXPECT_EQ(reports[1].fraction, 0.5);
  EXPECT_EQ(reports[2].text, L"Updating to 1.4.0\u2026");
  EXPECT_EQ(reports[3].text, L"Unpacking Quellorn\u2026");
  EXPECT_EQ(reports[3].fraction, std::nullopt);
  EXPECT_EQ(reports[4].text, L"Updating the launcher to 2.3.0\u2026 1.5 of 3.0 MB");
  EXPECT_EQ(reports[4].fraction, 0.5);
  EXPECT_EQ(install.Fetched(), 0u);  // the last count of each kind, for the log

  // Only what shows something new: the same tenth of a megabyte and thousandth of the bar is
  // one report, however many blocks it took.
  reports.clear();
  ReportInstallProgress paced{title, progress};
  for (const std::uint64_t done : {0, 100, 1048576, 1048676, 3145728}) {
    paced(Stage::Downloading, done, 3145728);
  }
  paced(Stage::Keeping, 5, 10);
  ASSERT_EQ(reports.size(), 4u);
  EXPECT_EQ(reports[0].fraction, 0.0);
  EXPECT_EQ(reports[1].text, L"Updating to 1.4.0\u2026 1.0 of 3.0 MB");
  EXPECT_EQ(reports[2].fraction, 1.0);
  EXPECT_EQ(reports[3].fraction, 0.5);
  EXPECT_EQ(paced.Fetched(), 3145728u);

  // Whole megabytes from 10 MB on.
  ReportInstallProgress large{title, progress};
  large(Stage::Downloading, 15728640, 20971520);
  EXPECT_EQ(reports.back().text, L"Updating to 1.4.0\u2026 15 of 20 MB");

  // A large file built by its chunks: what was fetched counts against its size, what was taken
  // from the installed one shows as kept; the log counts both kinds with the others.
  ReportInstallProgress patch{title, progress};
  patch(Stage::Keeping, 1048576, 1048576);
  reports.clear();
  patch(Stage::Taking, 2143289344, 2147483648);
  patch(Stage::Patching, 3145728, 2147483648);
  patch(Stage::Downloading, 2097152, 2097152);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].text, L"Updating to 1.4.0\u2026 3 of 2048 MB, 2044 MB kept");
  EXPECT_NEAR(*reports[0].fraction, 0.9995, 0.0001);
  EXPECT_EQ(patch.Kept(), 1048576u + 2143289344u);
  EXPECT_EQ(patch.Fetched(), 3145728u + 2097152u);
}

TEST(HostOf, TheHostTheUrlAsks) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"http://127.0.0.1:9/latest.json", L"127.0.0.1"},
      {L"https://cdn.example.com/game/latest.json?x=1", L"cdn.example.com"},
      {L"https://user@host.example/latest.json", L"host.example"},
      {L"http://[::1]:8080/latest.json", L"[::1]"},
      {L"not a url", WebsiteHost()},
  };
  for (const auto& [url, host] : cases) EXPECT_EQ(HostOf(url), host) << Narrow(url);
}

}  // namespace
}  // namespace launcher
