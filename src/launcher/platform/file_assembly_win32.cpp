// Win32 implementation of FileAssembly: block cloning of the stretches that line up on volumes
// that support it (ReFS), ReadFile and WriteFile for everything else, all at explicit offsets so
// that reads back from other threads need no lock of ours.

#include "launcher/platform/file_assembly.h"

#include <algorithm>
#include <vector>

#include "launcher/platform/handles_win32.h"

namespace launcher {

namespace {

// mingw-w64's headers lack these: FSCTL_DUPLICATE_EXTENTS_TO_FILE (CTL_CODE of the file system
// device, function 209, buffered, write access) and FILE_SUPPORTS_BLOCK_REFCOUNTING.
constexpr DWORD kDuplicateExtentsToFile = 0x00098344;
constexpr DWORD kSupportsBlockRefcounting = 0x08000000;
constexpr DWORD kQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED

struct DuplicateExtentsData {
  HANDLE source;
  LARGE_INTEGER sourceOffset;
  LARGE_INTEGER targetOffset;
  LARGE_INTEGER count;
};

// Clones must begin and end on a cluster; this is a multiple of every cluster size ReFS has.
constexpr std::uint64_t kCloneAlignment = 65536;
// A clone takes under 4 GiB a call.
constexpr std::uint64_t kLongestClone = std::uint64_t{1} << 30;
constexpr std::size_t kCopyBuffer = std::size_t{1} << 20;

std::error_code LastError() {
  const DWORD code = GetLastError();
  if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL || code == kQuotaExceeded) {
    return std::make_error_code(std::errc::no_space_on_device);
  }
  return {static_cast<int>(code), std::system_category()};
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

bool WriteAt(HANDLE file, const char* bytes, std::size_t count, std::uint64_t offset,
             std::error_code& error) {
  while (count > 0) {
    const DWORD slice = static_cast<DWORD>(std::min<std::size_t>(count, kCopyBuffer));
    OVERLAPPED at = At(offset);
    DWORD written = 0;
    if (!WriteFile(file, bytes, slice, &written, &at)) {
      error = LastError();
      return false;
    }
    if (written == 0) {  // no progress without an error: the disk is full
      error = std::make_error_code(std::errc::no_space_on_device);
      return false;
    }
    bytes += written;
    count -= written;
    offset += written;
  }
  return true;
}

// Reads exactly `count` bytes at `offset`; a file that ends before is an error.
bool ReadAt(HANDLE file, char* buffer, std::size_t count, std::uint64_t offset,
            std::error_code& error) {
  while (count > 0) {
    const DWORD slice = static_cast<DWORD>(std::min<std::size_t>(count, kCopyBuffer));
    OVERLAPPED at = At(offset);
    DWORD got = 0;
    if (!ReadFile(file, buffer, slice, &got, &at) && GetLastError() != ERROR_HANDLE_EOF) {
      error = LastError();
      return false;
    }
    if (got == 0) {
      error = std::make_error_code(std::errc::io_error);
      return false;
    }
    buffer += got;
    count -= got;
    offset += got;
  }
  return true;
}

bool IsReparsePoint(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  return !GetFileInformationByHandle(file, &information) ||
         (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

struct FileAssembly::Files {
  FileHandle source;
  FileHandle target;
  bool clones = false;       // the volume shares blocks, and no clone has failed yet
  std::vector<char> buffer;  // for copies through this process, made when first needed

  bool CopyThrough(std::uint64_t from, std::uint64_t to, std::uint64_t count,
                   std::error_code& error) {
    buffer.resize(kCopyBuffer);
    while (count > 0) {
      const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, kCopyBuffer));
      if (!ReadAt(source.Get(), buffer.data(), piece, from, error) ||
          !WriteAt(target.Get(), buffer.data(), piece, to, error)) {
        return false;
      }
      from += piece;
      to += piece;
      count -= piece;
    }
    return true;
  }

  // Clones `count` bytes (cluster-aligned at both ends of both files) into the target, which
  // is made long enough first; false, with nothing lost, when the volume won't.
  bool Clone(std::uint64_t from, std::uint64_t to, std::uint64_t count) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(to + count);
    if (!SetFileInformationByHandle(target.Get(), FileEndOfFileInfo, &end, sizeof end)) {
      return false;
    }
    for (std::uint64_t done = 0; done < count;) {
      const std::uint64_t piece = std::min(count - done, kLongestClone);
      DuplicateExtentsData data{source.Get(), {}, {}, {}};
      data.sourceOffset.QuadPart = static_cast<LONGLONG>(from + done);
      data.targetOffset.QuadPart = static_cast<LONGLONG>(to + done);
      data.count.QuadPart = static_cast<LONGLONG>(piece);
      DWORD returned = 0;
      if (!DeviceIoControl(target.Get(), kDuplicateExtentsToFile, &data, sizeof data, nullptr, 0,
                           &returned, nullptr)) {
        return false;
      }
      done += piece;
    }
    return true;
  }
};

FileAssembly::FileAssembly() = default;
FileAssembly::~FileAssembly() = default;

bool FileAssembly::Open(const std::filesystem::path& source, const std::filesystem::path& target,
                        std::error_code& error) {
  auto files = std::make_unique<Files>();
  // The game may hold its files open; every chunk is checked where it lands, so others may even
  // write meanwhile. A link's own data is nothing to copy from.
  files->source = FileHandle(CreateFileW(
      source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!files->source || IsReparsePoint(files->source.Get())) {
    error = files->source ? std::make_error_code(std::errc::too_many_symbolic_link_levels)
                          : LastError();
    return false;
  }
  // A link at the target's name is never written through: it goes, its target stays.
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
      !DeleteFileW(target.c_str())) {
    error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return false;
  }
  // Others may read the file meanwhile, nobody else may write it.
  files->target =
      FileHandle(CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!files->target) {
    error = LastError();
    return false;
  }
  DWORD flags = 0;
  files->clones = GetVolumeInformationByHandleW(files->target.Get(), nullptr, 0, nullptr, nullptr,
                                                &flags, nullptr, 0) &&
                  (flags & kSupportsBlockRefcounting) != 0;
  files_ = std::move(files);
  size_ = 0;
  return true;
}

bool FileAssembly::Copy(std::uint64_t offset, std::uint64_t count, std::error_code& error) {
  const std::uint64_t start = size_;
  // Only stretches that sit alike against the clusters of both files can be cloned; the ragged
  // ends around the aligned middle are copied.
  std::uint64_t head = count;
  std::uint64_t body = 0;
  if (files_->clones && offset % kCloneAlignment == start % kCloneAlignment) {
    head = std::min(count, (kCloneAlignment - start % kCloneAlignment) % kCloneAlignment);
    body = (count - head) / kCloneAlignment * kCloneAlignment;
  }
  if (!files_->CopyThrough(offset, start, head, error)) return false;
  if (body > 0 && !files_->Clone(offset + head, start + head, body)) {
    files_->clones = false;
    if (!files_->CopyThrough(offset + head, start + head, body, error)) return false;
  }
  const std::uint64_t tail = head + body;
  if (!files_->CopyThrough(offset + tail, start + tail, count - tail, error)) return false;
  size_ = start + count;
  return true;
}

bool FileAssembly::Write(const void* bytes, std::size_t count, std::error_code& error) {
  if (!WriteAt(files_->target.Get(), static_cast<const char*>(bytes), count, size_, error)) {
    return false;
  }
  size_ += count;
  return true;
}

bool FileAssembly::ReadBack(std::uint64_t offset, void* buffer, std::size_t count) const {
  std::error_code ignored;
  return offset + count <= size_ &&
         ReadAt(files_->target.Get(), static_cast<char*>(buffer), count, offset, ignored);
}

bool FileAssembly::Close(std::error_code& error) {
  if (!files_) return true;
  HANDLE target = files_->target.Release();
  files_.reset();
  if (!CloseHandle(target)) {
    error = LastError();
    return false;
  }
  return true;
}

}  // namespace launcher
