#include "launcher/platform/file_assembly.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/random_bytes.h"
#include "support/temporary_folder.h"

namespace launcher {
namespace {

// Stretches of the source at any offsets, bytes from memory between them, and reads back from
// another thread while the file grows: the file ends up exactly as put together.
TEST(FileAssembly, PutsStretchesAndBytesTogetherAndReadsThemBack) {
  const support::TemporaryFolder folder;
  support::RandomBytes noise(3);
  const std::string source = noise(5 * (1 << 20) + 17);
  const auto from = folder.Write("source.bin", source);
  struct Piece {
    std::uint64_t offset;  // in the source; unused for bytes
    std::uint64_t size;
    std::string bytes;  // empty: a stretch of the source
  };
  const Piece pieces[] = {
      {3, 1000, ""},                   // a small stretch at an odd offset
      {0, 0, noise(4097)},             // bytes from memory
      {65536, 3 * (1 << 20) + 5, ""},  // longer than any buffer, starting on a cluster
      {source.size() - 9, 9, ""},      // the source's last bytes
      {0, 0, "tail"},
  };
  FileAssembly assembly;
  std::error_code error;
  ASSERT_TRUE(assembly.Open(from, folder.path() / "new.bin", error)) << error.message();
  std::string expected;
  std::atomic<bool> readsHeld = true;
  for (const Piece& piece : pieces) {
    const std::uint64_t at = expected.size();
    if (piece.bytes.empty()) {
      ASSERT_TRUE(assembly.Copy(piece.offset, piece.size, error)) << error.message();
      expected += source.substr(piece.offset, piece.size);
    } else {
      ASSERT_TRUE(assembly.Write(piece.bytes.data(), piece.bytes.size(), error));
      expected += piece.bytes;
    }
    // What was just added reads back right away, from another thread.
    std::thread reader([&, at] {
      std::string back(expected.size() - at, '\0');
      if (!assembly.ReadBack(at, back.data(), back.size()) || back != expected.substr(at)) {
        readsHeld = false;
      }
    });
    reader.join();
  }
  EXPECT_TRUE(readsHeld);
  char beyond = 0;
  EXPECT_FALSE(assembly.ReadBack(expected.size(), &beyond, 1));
  ASSERT_TRUE(assembly.Close(error));
  EXPECT_TRUE(support::ReadFile(folder.path() / "new.bin") == expected);
}

TEST(FileAssembly, ASourceThatEndsEarlyOrIsMissingFails) {
  const support::TemporaryFolder folder;
  const auto from = folder.Write("source.bin", std::string(1000, 'x'));
  std::error_code error;
  FileAssembly assembly;
  ASSERT_TRUE(assembly.Open(from, folder.path() / "new.bin", error));
  EXPECT_FALSE(assembly.Copy(900, 200, error));
  EXPECT_TRUE(error);
  FileAssembly missing;
  error.clear();
  EXPECT_FALSE(missing.Open(folder.path() / "missing.bin", folder.path() / "other.bin", error));
  EXPECT_TRUE(error);
}

// Whatever stood at the new file's name goes: an older file is replaced, and a link planted
// there is removed, never written through.
TEST(FileAssembly, TheNewFileIsAlwaysANewOne) {
  const support::TemporaryFolder folder;
  const auto from = folder.Write("source.bin", "source bytes");
  const auto victim = folder.Write("victim.txt", "not to be touched");
  folder.Write("older.bin", std::string(5000, 'o'));
  std::error_code error;
  std::filesystem::create_symlink(victim, folder.path() / "planted.bin", error);
  for (const char* name : {"older.bin", "planted.bin"}) {
    SCOPED_TRACE(name);
    if (std::string(name) == "planted.bin" && error) continue;  // no symbolic links here
    FileAssembly assembly;
    std::error_code failure;
    ASSERT_TRUE(assembly.Open(from, folder.path() / name, failure)) << failure.message();
    ASSERT_TRUE(assembly.Copy(0, 6, failure));
    ASSERT_TRUE(assembly.Close(failure));
    EXPECT_EQ(support::ReadFile(folder.path() / name), "source");
    EXPECT_FALSE(std::filesystem::is_symlink(folder.path() / name));
  }
  EXPECT_EQ(support::ReadFile(victim), "not to be touched");
}

}  // namespace
}  // namespace launcher
