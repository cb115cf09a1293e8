#include "launcher/shell/instance_lock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "launcher/text/format.h"

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

TEST(AcquireInstanceLock, ExcludesEveryoneElseUntilTheProcessEnds) {
  const std::wstring name = Format(L"Local\\QuellornLauncher-test{}",
                                   std::chrono::steady_clock::now().time_since_epoch().count());
  ASSERT_TRUE(AcquireInstanceLock(name, 0));
  // Another thread stands in for another launcher: the lock belongs to whoever took it.
  bool other = true;
  std::chrono::steady_clock::duration waited{};
  std::thread([&] {
    const auto start = std::chrono::steady_clock::now();
    other = AcquireInstanceLock(name, 300);
    waited = std::chrono::steady_clock::now() - start;
  }).join();
  EXPECT_FALSE(other);
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_TRUE(AcquireInstanceLock(InstanceLockName(L"another installation"), 0));
}

}  // namespace
}  // namespace launcher
