#include "launcher/store/kept_files.h"

#include <gtest/gtest.h>

#include "launcher/text/failure.h"
#include "launcher/transfer/sha256.h"
#include "support/temporary_folder.h"

namespace launcher {
namespace {

TEST(CopyHashed, CopiesAndHashesInOnePass) {
  const support::TemporaryFolder folder;
  std::string content(2 * kHashBufferSize + 123, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 253);
  const auto source = folder.Write("source.bin", content);
  folder.Write("copy.bin",
               "an older, longer file that must be truncated " + std::string(5000000, 'x'));
  unsigned long long reported = 0;
  EXPECT_EQ(
      CopyHashed(source, folder.path() / "copy.bin", [&](unsigned long long n) { reported += n; }),
      DigestOf(content));
  EXPECT_EQ(reported, content.size());
  EXPECT_TRUE(support::ReadFile(folder.path() / "copy.bin") == content);
  EXPECT_EQ(HashFile(source), DigestOf(content));
}

TEST(CopyHashed, AFileThatCantBeReadOrWrittenFails) {
  const support::TemporaryFolder folder;
  const auto source = folder.Write("source.bin", "bytes");
  std::filesystem::create_directory(folder.path() / "a folder");
  const std::pair<std::filesystem::path, std::filesystem::path> cases[] = {
      {folder.path() / "missing.bin", folder.path() / "copy.bin"},
      {folder.path() / "a folder", folder.path() / "copy.bin"},
      {source, folder.path() / "no-such-folder" / "copy.bin"},
  };
  for (const auto& [from, to] : cases) {
    try {
      CopyHashed(from, to, [](unsigned long long) {});
      ADD_FAILURE() << from << " -> " << to;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.message, L"A kept file couldn't be copied");
    }
  }
  // A file that can't be opened hashes as no bytes.
  EXPECT_EQ(HashFile(folder.path() / "missing.bin"), DigestOf(""));
}

}  // namespace
}  // namespace launcher
