// Win32 implementation of FileWriter: CreateFileW, WriteFile and CloseHandle. Both of Windows'
// disk-full codes become std::errc::no_space_on_device.

#include "launcher/platform/file_writer.h"

#include <algorithm>

#include "launcher/platform/handles_win32.h"

namespace launcher {

namespace {

constexpr DWORD kQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED; mingw-w64's headers lack it

std::error_code LastError() {
  const DWORD code = GetLastError();
  if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL || code == kQuotaExceeded) {
    return std::make_error_code(std::errc::no_space_on_device);
  }
  return {static_cast<int>(code), std::system_category()};
}

}  // namespace

struct FileWriter::Handle {
  FileHandle file;
};

FileWriter::FileWriter() = default;
FileWriter::~FileWriter() = default;
FileWriter::FileWriter(FileWriter&&) noexcept = default;
FileWriter& FileWriter::operator=(FileWriter&&) noexcept = default;

bool FileWriter::Open(const std::filesystem::path& file, Start start, std::error_code& error) {
  // A link at the name is never written through: it goes (its target stays) before an empty
  // file is made, and refuses an append.
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    if (start == Start::AtEnd || !DeleteFileW(file.c_str())) {
      error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
      return false;
    }
  }
  // Others may read the file meanwhile, nobody else may write it.
  FileHandle opened(
      CreateFileW(file.c_str(), start == Start::Empty ? GENERIC_WRITE : FILE_APPEND_DATA,
                  FILE_SHARE_READ, nullptr, start == Start::Empty ? CREATE_ALWAYS : OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!opened) {
    error = LastError();
    return false;
  }
  handle_ = std::make_unique<Handle>();
  handle_->file = std::move(opened);
  return true;
}

bool FileWriter::IsOpen() const {
  return handle_ != nullptr;
}

bool FileWriter::Write(const void* bytes, std::size_t count, std::error_code& error) {
  const auto* next = static_cast<const char*>(bytes);
  while (count > 0) {
    const DWORD slice = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(handle_->file.Get(), next, slice, &written, nullptr)) {
      error = LastError();
      return false;
    }
    if (written == 0) {  // no progress without an error: the disk is full
      error = std::make_error_code(std::errc::no_space_on_device);
      return false;
    }
    next += written;
    count -= written;
  }
  return true;
}

bool FileWriter::Flush(std::error_code& error) {
  if (FlushFileBuffers(handle_->file.Get())) return true;
  error = LastError();
  return false;
}

bool FileWriter::Close(std::error_code& error) {
  if (!handle_) return true;
  HANDLE file = handle_->file.Release();
  handle_.reset();
  if (!CloseHandle(file)) {
    error = LastError();
    return false;
  }
  return true;
}

bool IsDiskFull(const std::error_code& error) {
  return error == std::errc::no_space_on_device;
}

}  // namespace launcher
