#include "launcher/feed/server_layout.h"

#include <gtest/gtest.h>

namespace launcher::layout {
namespace {

TEST(ServerLayout, NamesAreReadBackAsTheyAreMade) {
  EXPECT_EQ(FeedName(L""), L"latest.json");
  EXPECT_EQ(FeedName(L"beta"), L"latest-beta.json");
  EXPECT_EQ(SignatureName(FeedName(L"beta")), L"latest-beta.json.sig");
  for (const wchar_t* name : {L"latest.json", L"latest-beta.json", L"latest-qa-2.json"}) {
    EXPECT_TRUE(IsFeedName(name)) << name;
  }
  for (const wchar_t* name : {L"latest-.json", L"latest--x.json", L"latest-Beta.json",
                              L"latest.json.sig", L"Quellorn-1.0.0-files.txt"}) {
    EXPECT_FALSE(IsFeedName(name)) << name;
  }

  EXPECT_EQ(VersionOfFileList(FileListName(L"1.2.0")), L"1.2.0");
  // A prefix and an ending that overlap, no version between them, an installer's name.
  for (const wchar_t* name : {L"Quellorn-files.txt", L"Quellorn--files.txt", L"Quellorn-1.0.0.tar",
                              L"Quellorn-Launcher-2.3.0-files.txt"}) {
    EXPECT_FALSE(VersionOfFileList(name)) << name;
  }
  EXPECT_EQ(ArchiveName(L"1.2.0", ArchiveForm::Zstd), L"Quellorn-1.2.0.tar.zst");
  EXPECT_EQ(ArchiveName(L"1.2.0", ArchiveForm::Gzip), L"Quellorn-1.2.0.tar.gz");
  EXPECT_EQ(ChunkIndexName(L"1.2.0"), L"Quellorn-1.2.0-chunks.txt");
  EXPECT_TRUE(IsInstallerName(InstallerName(L"2.3.0")));

  const Digest digest = *Digest::FromHex(std::string(64, 'a'));
  EXPECT_EQ(BlobName(digest), L"files/" + std::wstring(64, L'a') + L".bin");
  EXPECT_EQ(DigestOfBlob(std::wstring(64, L'a') + L".bin"), digest);
  EXPECT_FALSE(DigestOfBlob(std::wstring(63, L'a') + L".bin"));
  EXPECT_FALSE(DigestOfBlob(std::wstring(64, L'a') + L".tmp"));
}

}  // namespace
}  // namespace launcher::layout
