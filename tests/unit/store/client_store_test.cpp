#include "launcher/store/client_store.h"

#include <gtest/gtest.h>

#include "support/failure_of.h"
#include "support/temporary_folder.h"

namespace launcher {
namespace {

using support::ReadFile;

class ClientStoreTest : public ::testing::Test {
 protected:
  void Install(const std::string& version) const {
    folder_.Write("Client/" + version + "/Quellorn.exe", "game");
  }
  void SetCurrentText(const std::string& bytes) const {
    folder_.Write("Client/current.txt", bytes);
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(store_.root / name); }

  support::TemporaryFolder folder_;
  ClientStore store_{folder_.path() / "Client"};
};

TEST_F(ClientStoreTest, CurrentReadsOnlyAPlainNameWithItsExecutable) {
  Install("1.4.0");
  folder_.Write("Client/2.0.0/readme.txt", "no executable here");
  const std::pair<std::string, std::wstring> cases[] = {
      {"1.4.0", L"1.4.0"},
      {"1.4.0\r\n", L"1.4.0"},
      {"1.4.0 \t\v\f ", L"1.4.0"},
      {" 1.4.0", L""},
      {"\xEF\xBB\xBF"
       "1.4.0",
       L""},
      {"", L""},
      {"2.0.0", L""},
      {"9.9.9", L""},
      {"../Client/1.4.0", L""},
      {"1.4.0\n1.3.0", L""},
  };
  for (const auto& [text, version] : cases) {
    SetCurrentText(text);
    EXPECT_EQ(store_.Current(), version) << ::testing::PrintToString(text);
  }
  std::filesystem::remove(store_.root / "current.txt");
  EXPECT_EQ(store_.Current(), L"");
}

TEST_F(ClientStoreTest, ExecutableIsQuellornExeInTheVersionFolder) {
  EXPECT_EQ(store_.Executable(L"1.4.0"), folder_.path() / "Client" / "1.4.0" / "Quellorn.exe");
}

TEST_F(ClientStoreTest, PruneKeepsTheCurrentVersionAndCurrentTxtOnly) {
  Install("Beta-1");
  Install("1.3.0");
  SetCurrentText("Beta-1");
  folder_.Write("Client/Beta-1.partial/data/a.bin.part", "x");
  folder_.Write("Client/Beta-1.download", "x");
  folder_.Write("Client/1.3.0.download", "x");
  folder_.Write("Client/current.txt.tmp", "1.3.0");
  folder_.Write("Client/notes.txt", "the player's");
  store_.Prune();
  EXPECT_TRUE(Exists("Beta-1/Quellorn.exe"));
  EXPECT_TRUE(Exists("current.txt"));
  for (const char* gone : {"1.3.0", "Beta-1.partial", "Beta-1.download", "1.3.0.download",
                           "current.txt.tmp", "notes.txt"}) {
    EXPECT_FALSE(Exists(gone)) << gone;
  }
}

TEST_F(ClientStoreTest, PruneComparesNamesWithoutLetterCase) {
  Install("Beta-1");
  SetCurrentText("Beta-1");
  // On a file system that tells letter case apart, these are other entries; both stay.
  folder_.Write("Client/BETA-1/other.txt", "x");
  folder_.Write("Client/CURRENT.TXT", "Beta-1");
  store_.Prune();
  EXPECT_TRUE(Exists("Beta-1/Quellorn.exe"));
  EXPECT_TRUE(Exists("BETA-1"));
  EXPECT_TRUE(Exists("CURRENT.TXT"));
}

TEST_F(ClientStoreTest, PruneWithoutACurrentVersionRemovesNothing) {
  Install("1.3.0");
  folder_.Write("Client/1.4.0.partial/Quellorn.exe", "x");
  SetCurrentText("1.4.0");  // its folder was never completed
  store_.Prune();
  EXPECT_TRUE(Exists("1.3.0/Quellorn.exe"));
  EXPECT_TRUE(Exists("1.4.0.partial/Quellorn.exe"));

  const ClientStore missing(folder_.path() / "no-store");
  EXPECT_NO_THROW(missing.Prune());
}

TEST_F(ClientStoreTest, NamingCurrentReplacesCurrentTxtWholly) {
  Install("1.3.0");
  Install("1.4.0");
  store_.NameCurrent(L"1.3.0");
  EXPECT_EQ(store_.Current(), L"1.3.0");
  store_.NameCurrent(L"1.4.0");
  EXPECT_EQ(ReadFile(store_.root / "current.txt"), "1.4.0");
  EXPECT_EQ(store_.Current(), L"1.4.0");
  EXPECT_FALSE(Exists("current.txt.tmp"));
}

TEST_F(ClientStoreTest, AFailedNamingLeavesThePreviousVersionCurrent) {
  Install("1.3.0");
  Install("1.4.0");
  store_.NameCurrent(L"1.3.0");

  // The temporary file can't be made: a folder stands in its place.
  std::filesystem::create_directories(store_.root / "current.txt.tmp" / "inside");
  EXPECT_EQ(support::FailureOf([&] { store_.NameCurrent(L"1.4.0"); }),
            L"The new version couldn't be named current");
  EXPECT_EQ(ReadFile(store_.root / "current.txt"), "1.3.0");
  EXPECT_EQ(store_.Current(), L"1.3.0");
  std::filesystem::remove_all(store_.root / "current.txt.tmp");

  // The store folder itself is gone.
  const ClientStore gone(folder_.path() / "no-store");
  EXPECT_EQ(support::FailureOf([&] { gone.NameCurrent(L"1.4.0"); }),
            L"The new version couldn't be named current");
}

}  // namespace
}  // namespace launcher
