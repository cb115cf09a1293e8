// Run by tests/tls/https_check.py, which serves a file over TLS with a certificate from a
// throwaway authority and says through the environment whether the system trusts it.

#include <gtest/gtest.h>

#include <cstdlib>

#include "launcher/feed/release.h"
#include "launcher/text/failure.h"
#include "launcher/text/text.h"
#include "launcher/transfer/download.h"
#include "support/temporary_folder.h"

namespace launcher {
namespace {

std::string Setting(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

TEST(Https, CertificatesAreCheckedAgainstTheSystemsAuthorities) {
  const std::string url = Setting("QUELLORN_TLS_URL");
  if (url.empty()) GTEST_SKIP() << "needs the TLS server of tests/tls/https_check.py";
  const Release release{L"1.0.0", L"file.bin", Widen(Setting("QUELLORN_TLS_SHA256")),
                        std::stoull(Setting("QUELLORN_TLS_SIZE"))};
  const support::TemporaryFolder folder;
  const auto file = folder.path() / "file.bin";

  if (Setting("QUELLORN_TLS_TRUSTED") == "1") {
    EXPECT_NO_THROW(Download(Widen(url), release.size, release.sha256, file, [](std::uint64_t) {}));
    EXPECT_EQ(std::filesystem::file_size(file), release.size);
    return;
  }
  try {
    Download(Widen(url), release.size, release.sha256, file, [](std::uint64_t) {});
    ADD_FAILURE() << "a certificate from an unknown authority was accepted";
  } catch (const Failure& failure) {
    EXPECT_TRUE(failure.message.starts_with(L"Couldn't reach the server: "))
        << ::testing::PrintToString(failure.message);
  }
  EXPECT_FALSE(std::filesystem::exists(file));
}

}  // namespace
}  // namespace launcher
