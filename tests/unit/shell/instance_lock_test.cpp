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

TEST(AcquireInstanceLock, ExcludesEveryoneElseUntilReleased) {
  const std::wstring name = Format(L"Local\\QuellornLauncher-test{}",
                                   std::chrono::steady_clock::now().time_since_epoch().count());
  InstanceLock held = AcquireInstanceLock(name, 0);
  ASSERT_TRUE(held);
  // Another thread stands in for another launcher: the lock belongs to whoever took it.
  const auto tryOnAnotherThread = [&](std::uint32_t wait) {
    bool taken = true;
    std::thread([&] { taken = static_cast<bool>(AcquireInstanceLock(name, wait)); }).join();
    return taken;
  };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(tryOnAnotherThread(300));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_TRUE(AcquireInstanceLock(InstanceLockName(L"another installation"), 0));
  held = InstanceLock();
  EXPECT_TRUE(tryOnAnotherThread(0));
}

}  // namespace
}  // namespace launcher
