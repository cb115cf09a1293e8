// Reads the resources back out of the built QuellornLauncher.exe with the system's own API.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/feed/version.h"
#include "launcher/platform/windows.h"
#include "launcher/shell/executable_directory.h"
#include "launcher/text/text.h"

namespace launcher {
namespace {

std::wstring LauncherPath() {
  return (ExecutableDirectory() / L"QuellornLauncher.exe").wstring();
}

class LauncherResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(LauncherPath().c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << "can't open " << ::testing::PrintToString(LauncherPath());
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  std::string Resource(LPCWSTR type, WORD id) const {
    HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) return {};
    const auto* data = static_cast<const char*>(LockResource(LoadResource(module_, found)));
    return data == nullptr ? std::string() : std::string(data, SizeofResource(module_, found));
  }

  HMODULE module_ = nullptr;
};

std::wstring VersionString(const std::vector<char>& block, const wchar_t* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || length == 0) return {};
  return std::wstring(static_cast<const wchar_t*>(value), length - 1);
}

TEST(LauncherVersionRecord, NamesTheProductFileAndVersion) {
  const std::wstring path = LauncherPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  EXPECT_EQ(VersionString(block, L"ProductName"), L"Quellorn");
  EXPECT_EQ(VersionString(block, L"FileDescription"), L"Quellorn Launcher");
  EXPECT_EQ(VersionString(block, L"InternalName"), L"QuellornLauncher");
  EXPECT_EQ(VersionString(block, L"OriginalFilename"), L"QuellornLauncher.exe");
  // The record and the launcher's own idea of its version must agree, or a launcher would take
  // every feed naming its own version for a newer one.
  EXPECT_EQ(VersionString(block, L"FileVersion"), kOwnVersion);
  EXPECT_EQ(VersionString(block, L"ProductVersion"), kOwnVersion);

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const std::vector<std::uint32_t> numbers = ParseVersion(kOwnVersion);
  ASSERT_EQ(numbers.size(), 3u);
  EXPECT_EQ(fixed->dwFileVersionMS, (numbers[0] << 16) | numbers[1]);
  EXPECT_EQ(fixed->dwFileVersionLS, numbers[2] << 16);
  EXPECT_EQ(fixed->dwProductVersionMS, (numbers[0] << 16) | numbers[1]);
  EXPECT_EQ(fixed->dwProductVersionLS, numbers[2] << 16);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST_F(LauncherResources, ManifestAsksForNoElevationAndPerMonitorDpi) {
  const std::string manifest = Resource(RT_MANIFEST, 1);
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor<"), std::string::npos);
  EXPECT_NE(manifest.find(">true/pm<"), std::string::npos);
  EXPECT_NE(manifest.find("version=\"" + Narrow(kOwnVersion) + ".0\""), std::string::npos);
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width;
  BYTE height;
  BYTE colours;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST_F(LauncherResources, IconGroupOneHoldsEverySizeIn32Bits) {
  const std::string group = Resource(RT_GROUP_ICON, 1);
  ASSERT_GE(group.size(), 6u);
  WORD header[3];
  std::memcpy(header, group.data(), sizeof header);
  EXPECT_EQ(header[1], 1);  // an icon, not a cursor
  const unsigned sizes[] = {16, 24, 32, 48, 64, 128, 256};
  ASSERT_EQ(header[2], std::size(sizes));
  ASSERT_EQ(group.size(), 6 + std::size(sizes) * sizeof(GroupIconEntry));

  for (size_t i = 0; i < std::size(sizes); ++i) {
    GroupIconEntry entry;
    std::memcpy(&entry, group.data() + 6 + i * sizeof entry, sizeof entry);
    SCOPED_TRACE(sizes[i]);
    EXPECT_EQ(entry.width == 0 ? 256u : entry.width, sizes[i]);  // 0 stands for 256
    EXPECT_EQ(entry.height == 0 ? 256u : entry.height, sizes[i]);
    EXPECT_EQ(entry.bitCount, 32);

    const std::string image = Resource(RT_ICON, entry.id);
    ASSERT_EQ(image.size(), entry.bytes);
    BITMAPINFOHEADER bitmap;
    ASSERT_GE(image.size(), sizeof bitmap);
    std::memcpy(&bitmap, image.data(), sizeof bitmap);
    EXPECT_EQ(bitmap.biWidth, static_cast<LONG>(sizes[i]));
    EXPECT_EQ(bitmap.biHeight, static_cast<LONG>(2 * sizes[i]));  // colour and mask
    EXPECT_EQ(bitmap.biBitCount, 32);
  }
}

}  // namespace
}  // namespace launcher
