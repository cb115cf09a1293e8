#include "launcher/shell/instance_lock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "launcher/text/format.h"
#include "support/temporary_folder.h"

namespace launcher {
namespace {

TEST(InstanceLockName, FoldsSeparatorsAndAsciiCaseOnly) {
  // Expected names computed independently: FNV-1a 64 over the key's UTF-16LE bytes.
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"D:\\Play\\Client", L"00e3ecc3b716cb6e"},
      {L"d:/play/client", L"00e3ecc3b716cb6e"},
      {L"D:/PLAY\\client", L"00e3ecc3b716cb6e"},
      {L"", L"cbf29ce484222325"},
      {L"C:\\Spiele\\\u00C4rger\\Client", L"e9d015db3378148a"},  // Ä isn't folded
      {L"C:\\Spiele\\\u00E4rger\\Client", L"4bc6acda221083aa"},
      // A character beyond the Basic Multilingual Plane hashes as its surrogate pair everywhere.
      {L"C:\\x\\\U0001F600\\Client", L"ced1e5673d189c61"},
  };
  for (const auto& [root, hash] : cases) {
    EXPECT_EQ(InstanceLockName(root), L"Local\\QuellornLauncher-" + hash)
        << testing::PrintToString(root);
  }
}

TEST(AcquireInstanceLock, ExcludesEveryoneElseUntilReleasedHoweverTheStoreIsReached) {
  const support::TemporaryFolder folder;
  std::filesystem::create_directories(folder.path() / "Games" / "Quellorn");
  const auto store = folder.path() / "Games" / "Quellorn" / "Client";
  InstanceLock held = AcquireInstanceLock(store, 0);
  ASSERT_TRUE(held);
  // Another thread stands in for another launcher: the lock belongs to whoever took it.
  const auto tryOnAnotherThread = [&](const std::filesystem::path& root, std::uint32_t wait) {
    bool taken = true;
    std::thread([&] { taken = static_cast<bool>(AcquireInstanceLock(root, wait)); }).join();
    return taken;
  };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(tryOnAnotherThread(store, 300));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  // The same installation through a link to its folder.
  std::error_code error;
  std::filesystem::create_directory_symlink(folder.path() / "Games" / "Quellorn",
                                            folder.path() / "Linked", error);
  if (!error) {
    EXPECT_EQ(ResolvedFolder(folder.path() / "Linked"),
              ResolvedFolder(folder.path() / "Games" / "Quellorn"));
    EXPECT_FALSE(tryOnAnotherThread(folder.path() / "Linked" / "Client", 0));
  }
  // Another installation isn't held up.
  std::filesystem::create_directories(folder.path() / "Other");
  EXPECT_TRUE(tryOnAnotherThread(folder.path() / "Other" / "Client", 0));
  held = InstanceLock();
  EXPECT_TRUE(tryOnAnotherThread(store, 0));
}

}  // namespace
}  // namespace launcher
