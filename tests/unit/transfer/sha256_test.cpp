#include "launcher/transfer/sha256.h"

#include <gtest/gtest.h>

#include "launcher/platform/file_writer.h"
#include "launcher/transfer/background_sha256.h"
#include "launcher/transfer/written_file_sha256.h"
#include "support/failure_of.h"
#include "support/temporary_folder.h"

namespace launcher {
namespace {

TEST(Sha256, KnownDigests) {
  const std::pair<std::string, std::wstring> cases[] = {
      {"", L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       L"248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [bytes, digest] : cases) EXPECT_EQ(Sha256Hex(bytes), digest);
}

TEST(Sha256, PiecesOfAnySizeGiveTheSameDigest) {
  std::string bytes;
  for (int i = 0; i < 300000; ++i) bytes += static_cast<char>(i * 7 + i / 256);
  const std::wstring whole = Sha256Hex(bytes);
  for (const size_t piece : {1u, 63u, 64u, 65u, 4096u, 65536u, 299999u}) {
    Sha256 hasher;
    for (size_t at = 0; at < bytes.size(); at += piece) {
      hasher.Add(bytes.data() + at, std::min(piece, bytes.size() - at));
    }
    EXPECT_EQ(hasher.FinishHex(), whole) << piece;
  }
  ASSERT_EQ(whole.size(), 64u);
  EXPECT_EQ(whole.find_first_not_of(L"0123456789abcdef"), std::wstring::npos);
}

TEST(BackgroundSha256, SameDigestOnEitherThreadWhateverTheBlocks) {
  constexpr std::size_t kSlot = BackgroundSha256::kSlotSize;
  std::string bytes(BackgroundSha256::kBackgroundFrom + 3 * kSlot + 17, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + i / 4093);
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  struct Case {
    std::size_t length;
    std::size_t block;
    std::size_t prefix;  // hashed before the pipeline takes over
  };
  const Case cases[] = {
      {1000, 100, 0},                // below the threshold: on the calling thread
      {bytes.size(), 65536, 0},      // slots filled by whole blocks, one slot left part full
      {bytes.size(), 65537, 5},      // blocks that straddle slots
      {bytes.size(), kSlot * 3, 0},  // one block over several slots, the ring wrapping round
      {kSlot * BackgroundSha256::kSlots * 2, kSlot, 0},  // ends exactly on a slot
  };
  for (const Case& c : cases) {
    Sha256 start;
    start.Add(data, c.prefix);
    BackgroundSha256 hasher(std::move(start), c.length);
    for (std::size_t at = c.prefix; at < c.length; at += c.block) {
      hasher.Add(data + at, std::min(c.block, c.length - at));
    }
    EXPECT_EQ(hasher.FinishHex(), Sha256Hex(std::string_view(bytes).substr(0, c.length)))
        << c.length << " in blocks of " << c.block;
  }
  // Given up on half way (a failed download): the queued slots are dropped, nothing hangs.
  BackgroundSha256 abandoned(Sha256(), bytes.size());
  abandoned.Add(data, kSlot * BackgroundSha256::kSlots);
}

TEST(WrittenFileSha256, HashesTheFileBehindItsWriter) {
  constexpr std::size_t kStretch = WrittenFileSha256::kStretch;
  constexpr std::size_t kFrom = WrittenFileSha256::kFollowFrom;
  const support::TemporaryFolder folder;
  const auto file = folder.path() / "download.part";
  std::string bytes(kFrom + 3 * kStretch + 17, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 29 + i / 4099);
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  struct Case {
    std::size_t length;
    std::size_t block;
    std::size_t kept;  // on the disk and hashed before the writer goes on
  };
  const Case cases[] = {
      {1000, 100, 0},                       // too short for a thread: hashed from the blocks
      {bytes.size(), 65536, 0},             // stretches made of whole blocks, a short last one
      {bytes.size(), 65537, 5},             // kept bytes, blocks that straddle stretches
      {bytes.size(), kStretch * 3, 0},      // one block of several stretches
      {kFrom + 2 * kStretch, kStretch, 0},  // ends exactly on a stretch
      {bytes.size(), 65536, bytes.size() - 1000},  // a resumed remainder too short for a thread
  };
  for (const Case& c : cases) {
    folder.Write(file.filename(), bytes.substr(0, c.kept));
    Sha256 kept;
    kept.Add(data, c.kept);
    FileWriter out;
    std::error_code error;
    ASSERT_TRUE(out.Open(file, FileWriter::Start::AtEnd, error)) << error.message();
    WrittenFileSha256 hasher(std::move(kept), file, c.kept, c.length);
    for (std::size_t at = c.kept; at < c.length; at += c.block) {
      const std::size_t count = std::min(c.block, c.length - at);
      ASSERT_TRUE(out.Write(data + at, count, error)) << error.message();
      hasher.Add(data + at, count);
    }
    ASSERT_TRUE(out.Close(error)) << error.message();
    EXPECT_EQ(hasher.FinishHex(), Sha256Hex(std::string_view(bytes).substr(0, c.length)))
        << c.length << " in blocks of " << c.block << " after " << c.kept;
  }

  // Bytes reported that the file doesn't hold (someone cut it): the check fails, it doesn't
  // hash something else.
  folder.Write(file.filename(), bytes.substr(0, kStretch));
  WrittenFileSha256 cut(Sha256(), file, 0, bytes.size());
  cut.Add(data, bytes.size());
  EXPECT_EQ(support::FailureOf([&] { cut.FinishHex(); }),
            L"The download couldn't be read back for its check");

  // Given up on half way (a failed download): the thread ends without reading the rest.
  WrittenFileSha256 abandoned(Sha256(), file, 0, bytes.size());
  abandoned.Add(data, 2 * kStretch);
}

TEST(Sha256, AddFilePrefixHashesUpToTheLimitInFileOrder) {
  const support::TemporaryFolder folder;
  std::string bytes(3 * kHashBufferSize + 5, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
  const auto file = folder.Write("blob.bin", bytes);

  for (const std::uint64_t limit :
       {std::uint64_t{0}, std::uint64_t{1000}, std::uint64_t{kHashBufferSize},
        std::uint64_t{kHashBufferSize + 1}, std::uint64_t{bytes.size()}}) {
    Sha256 hasher;
    EXPECT_EQ(AddFilePrefix(hasher, file, limit), limit);
    EXPECT_EQ(hasher.FinishHex(), Sha256Hex(std::string_view(bytes).substr(0, limit))) << limit;
  }
  Sha256 beyond;
  EXPECT_EQ(AddFilePrefix(beyond, file, bytes.size() + 100), bytes.size());
  Sha256 missing;
  EXPECT_EQ(AddFilePrefix(missing, folder.path() / "missing", 10), 0u);
}

}  // namespace
}  // namespace launcher
