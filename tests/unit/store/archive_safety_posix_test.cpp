// Crafted archives against the system's real tar: nothing may land outside the store, every
// archive that tries is refused, and modes are the launcher's own.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

#include "launcher/platform/disk_writes.h"
#include "launcher/platform/links.h"
#include "launcher/store/archive_stream.h"
#include "launcher/store/client_store.h"
#include "launcher/text/text.h"
#include "launcher/transfer/sha256.h"
#include "support/failure_of.h"
#include "support/scripted_server.h"
#include "support/tar_writer.h"
#include "support/temporary_folder.h"

namespace launcher {
namespace {

using support::TarEntry;

std::vector<std::string> Listing(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    names.push_back(entry.path().lexically_relative(folder).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ArchiveSafety, NothingLandsOutsideTheStoreAndLinksAreRefused) {
  struct Case {
    const char* name;
    std::vector<TarEntry> entries;
    bool refused;
  };
  const TarEntry game{"Quellorn.exe", "game"};
  const std::vector<Case> cases = {
      {"climbing name",
       {game, {"../../canary/evil.txt", "x"}, {"a/../../../canary/evil2.txt", "x"}},
       true},
      {"absolute name", {game, {"CANARY/evil.txt", "x"}}, true},  // CANARY is replaced below
      {"link out", {game, {"out", "", '2', "CANARY"}}, true},
      {"link out, then through it",
       {game, {"out", "", '2', "CANARY"}, {"out/evil.txt", "x"}},
       true},
      {"link out, then a file of its name",
       {game, {"out", "", '2', "CANARY/secret.txt"}, {"out", "y"}},
       true},
      {"hard link out", {game, {"hard", "", '1', "CANARY/secret.txt"}}, true},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.name);
    const support::TemporaryFolder folder;
    const auto canary = folder.path() / "canary";
    folder.Write("canary/secret.txt", "untouched");
    for (auto& entry : c.entries) {
      for (std::string* text : {&entry.name, &entry.linkTarget}) {
        if (const size_t at = text->find("CANARY"); at != std::string::npos) {
          text->replace(at, 6, canary.string());
        }
      }
    }
    const std::string archive = support::MakeTar(c.entries);
    support::ScriptedServer server;
    server.Route("/r.tar", support::ServeFile(archive));
    const ClientStore store(folder.path() / "store" / "Client");
    const std::wstring message = support::FailureOf([&] {
      store.Install({L"1.0.0", L"r.tar", Sha256Hex(archive), archive.size()}, server.Url("/"), {},
                    [](Stage, std::uint64_t, std::uint64_t) {});
    });
    EXPECT_EQ(Listing(canary), std::vector<std::string>{"secret.txt"});
    EXPECT_EQ(support::ReadFile(canary / "secret.txt"), "untouched");
    if (c.refused) {
      EXPECT_EQ(message, L"The release couldn't be unpacked");
      EXPECT_EQ(store.Current(), L"");
    }
    if (message.empty()) {
      EXPECT_FALSE(HoldsLinks(store.root / "1.0.0"));
    }
  }
}

TEST(StartWritingToDisk, NeitherFollowsALinkNorWaitsForAPipe) {
  const support::TemporaryFolder folder;
  const auto file = folder.Write("file.bin", "bytes");
  ASSERT_EQ(::mkfifo((folder.path() / "pipe").c_str(), 0600), 0);
  std::filesystem::create_symlink(folder.path() / "pipe", folder.path() / "link");
  for (const char* name : {"file.bin", "pipe", "link", "missing"}) {
    StartWritingToDisk(folder.path() / name);  // a pipe opened for reading would wait for ever
  }
  EXPECT_EQ(support::ReadFile(file), "bytes");
}

TEST(Unpack, WithoutATarOnThePathSaysSo) {
  const support::TemporaryFolder folder;
  const auto archive = folder.Write("r.tar", support::MakeTar({{"Quellorn.exe", "game"}}));
  const std::string saved = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  setenv("PATH", folder.path().c_str(), 1);
  const std::wstring message = support::FailureOf([&] { UnpackFile(archive, folder.path(), {}); });
  setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(message, L"The release couldn't be unpacked: the system's tar is missing");
}

TEST(ArchiveStream, FilesAndFoldersGetPlainModesWhateverTheArchiveSays) {
  support::TemporaryFolder folder;
  const std::string archive = support::MakeTar({{"Quellorn.exe", "game", '0', "", 04777},
                                                {"data", "", '5', "", 02777},
                                                {"data/a.pak", "a", '0', "", 06666}});
  const std::vector<Listed> unlisted;
  ArchiveStream stream(folder.path(), unlisted);
  stream.Add(0, reinterpret_cast<const std::uint8_t*>(archive.data()), archive.size());
  stream.Finish();
  using std::filesystem::perms;
  const auto mode = [&](const char* name) {
    return std::filesystem::status(folder.path() / name).permissions() & perms::mask;
  };
  const perms plain =
      perms::owner_read | perms::owner_write | perms::group_read | perms::others_read;
  const perms executable = plain | perms::owner_exec | perms::group_exec | perms::others_exec;
  EXPECT_EQ(mode("Quellorn.exe"), executable);
  EXPECT_EQ(mode("data"), executable);
  EXPECT_EQ(mode("data/a.pak"), plain);
}

}  // namespace
}  // namespace launcher
