#include "launcher/store/kept_files.h"

#include <gtest/gtest.h>

#include <set>

#include "launcher/store/chunk_file.h"
#include "launcher/text/failure.h"
#include "launcher/transfer/sha256.h"
#include "support/random_bytes.h"
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

// A pack file of random bytes and the edits a patch makes to one: the chunks of the edited file
// that the original doesn't hold are what an update has to fetch.
TEST(ChunkFile, AnEditMovesOnlyTheChunksAroundIt) {
  const support::TemporaryFolder folder;
  support::RandomBytes noise(11);
  const std::size_t mebibyte = 1 << 20;
  const std::string pack = noise(16 * mebibyte);
  const std::optional<ChunkedFile> original = ChunkFile(folder.Write("pack", pack), "data/pack");
  ASSERT_TRUE(original);
  EXPECT_EQ(original->sha256, DigestOf(pack));
  std::set<Digest> held;
  std::uint64_t offset = 0;
  for (const Chunk& chunk : original->chunks) {
    EXPECT_EQ(chunk.offset, offset);
    EXPECT_LE(chunk.size, kLongestChunk);
    if (chunk.offset + chunk.size < pack.size()) {
      EXPECT_GE(chunk.size, kShortestChunk);
    }
    EXPECT_EQ(chunk.sha256, DigestOf(pack.substr(chunk.offset, chunk.size)));
    held.insert(chunk.sha256);
    offset += chunk.size;
  }
  EXPECT_EQ(offset, pack.size());
  EXPECT_EQ(ParseChunkIndex(FormatChunkIndex({*original})), std::vector{*original});

  struct Case {
    const char* edit;
    std::string edited;
    std::uint64_t mostToFetch;
  };
  const Case cases[] = {
      {"1 MiB replaced in the middle",
       pack.substr(0, 8 * mebibyte) + noise(mebibyte) + pack.substr(9 * mebibyte),
       mebibyte + 2 * kLongestChunk},
      {"1 MiB inserted near the start",
       pack.substr(0, 100000) + noise(mebibyte) + pack.substr(100000),
       mebibyte + 2 * kLongestChunk},
      {"the tail cut", pack.substr(0, 13 * mebibyte), kLongestChunk},
      {"nothing in common", noise(16 * mebibyte), 16 * mebibyte},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edit);
    const std::optional<ChunkedFile> edited = ChunkFile(folder.Write("edited", c.edited), "p");
    ASSERT_TRUE(edited);
    std::uint64_t toFetch = 0;
    for (const Chunk& chunk : edited->chunks) toFetch += held.count(chunk.sha256) ? 0 : chunk.size;
    EXPECT_LE(toFetch, c.mostToFetch);
    if (c.mostToFetch == c.edited.size()) {
      EXPECT_EQ(toFetch, c.edited.size());
    }
  }

  // Anything but the index's own form is refused whole.
  const std::string file = DigestOf("x").Text() + "\t1\tx\n";
  const std::string chunk = "\t" + DigestOf("x").Text() + "\t1\n";
  for (const std::string& bad :
       {std::string("quellorn chunks 2\n"), "quellorn chunks 1\n" + chunk,
        "quellorn chunks 1\n" + file + chunk + chunk, "quellorn chunks 1\n" + file,
        "quellorn chunks 1\n" + DigestOf("x").Text() + "\t1x\tx\n" + chunk}) {
    EXPECT_THROW(ParseChunkIndex(bad), Failure) << bad;
  }
}

}  // namespace
}  // namespace launcher
