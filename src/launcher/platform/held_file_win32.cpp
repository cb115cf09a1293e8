// Win32 implementation of HeldFile and MakePrivateFolder: a handle that shares reading only, and a
// fresh folder inside the user's own temporary folder, whose permissions it inherits.

#include "launcher/platform/held_file.h"

#include <random>
#include <string>

#include "launcher/platform/handles_win32.h"

namespace launcher {

struct HeldFile::Handle {
  FileHandle file;
};

HeldFile::HeldFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
HeldFile::~HeldFile() = default;

std::unique_ptr<HeldFile> HeldFile::Open(const std::filesystem::path& file) {
  // Others may read it (the loader must, to start it) but not write, rename or delete it.
  FileHandle opened(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!opened) return nullptr;
  auto handle = std::make_unique<Handle>();
  handle->file = std::move(opened);
  return std::unique_ptr<HeldFile>(new HeldFile(std::move(handle)));
}

std::int64_t HeldFile::Read(void* buffer, std::size_t count) {
  DWORD got = 0;
  const DWORD wanted = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
  if (!ReadFile(handle_->file.Get(), buffer, wanted, &got, nullptr)) return -1;
  return got;
}

bool HoldingKeepsWritersOut() {
  return true;
}

std::filesystem::path MakePrivateFolder(const std::filesystem::path& parent,
                                        const std::filesystem::path::string_type& prefix) {
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::filesystem::path folder = parent / (prefix + std::to_wstring(random()));
    // Fails when the name exists: a folder someone else made is never used.
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

}  // namespace launcher
