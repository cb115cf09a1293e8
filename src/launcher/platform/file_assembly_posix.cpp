// POSIX implementation of FileAssembly: copy_file_range, and pread and pwrite where the kernel
// can't copy between the two files (another file system, an old kernel), all at explicit offsets
// so that reads back from other threads need no lock.

#include "launcher/platform/file_assembly.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "launcher/platform/file_descriptor.h"

namespace launcher {

namespace {

constexpr std::size_t kCopyBuffer = std::size_t{1} << 20;

std::error_code LastError() {
  return {errno, std::generic_category()};
}

// Whether copy_file_range's failure means it can't copy between these files, not that the copy
// itself failed: then the bytes go through this process instead.
bool KernelCantCopy(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
         error == EBADF;
}

bool WriteAt(int fd, const char* bytes, std::size_t count, std::uint64_t offset,
             std::error_code& error) {
  while (count > 0) {
    const ssize_t written = ::pwrite(fd, bytes, count, static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      // A write that makes no progress without an error is a full disk too.
      error = written < 0 ? LastError() : std::make_error_code(std::errc::no_space_on_device);
      return false;
    }
    bytes += written;
    count -= static_cast<std::size_t>(written);
    offset += static_cast<std::uint64_t>(written);
  }
  return true;
}

// Reads exactly `count` bytes at `offset`; a file that ends before is an error.
bool ReadAt(int fd, char* buffer, std::size_t count, std::uint64_t offset, std::error_code& error) {
  while (count > 0) {
    const ssize_t got = ::pread(fd, buffer, count, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      error = got < 0 ? LastError() : std::make_error_code(std::errc::io_error);
      return false;
    }
    buffer += got;
    count -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

}  // namespace

struct FileAssembly::Files {
  FileDescriptor source;
  FileDescriptor target;
  bool kernelCopies = true;  // until copy_file_range says it can't here
  std::vector<char> buffer;  // for copies through this process, made when first needed
};

FileAssembly::FileAssembly() = default;
FileAssembly::~FileAssembly() = default;

bool FileAssembly::Open(const std::filesystem::path& source, const std::filesystem::path& target,
                        std::error_code& error) {
  auto files = std::make_unique<Files>();
  files->source = FileDescriptor(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!files->source) {
    error = LastError();
    return false;
  }
  // A new file, never one that a link or another name leads to: the name goes first, and a name
  // made again meanwhile fails the open.
  if (::unlink(target.c_str()) != 0 && errno != ENOENT) {
    error = LastError();
    return false;
  }
  files->target = FileDescriptor(
      ::open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!files->target) {
    error = LastError();
    return false;
  }
  files_ = std::move(files);
  size_ = 0;
  return true;
}

bool FileAssembly::Copy(std::uint64_t offset, std::uint64_t count, std::error_code& error) {
  const std::uint64_t start = size_;
  auto from = static_cast<off_t>(offset);
  auto to = static_cast<off_t>(size_);
  std::uint64_t left = count;
  while (left > 0 && files_->kernelCopies) {
    const ssize_t copied = ::copy_file_range(files_->source.Get(), &from, files_->target.Get(), &to,
                                             static_cast<std::size_t>(left), 0);
    if (copied < 0 && errno == EINTR) continue;
    if (copied < 0 && KernelCantCopy(errno) && left == count) {
      files_->kernelCopies = false;
      break;
    }
    if (copied <= 0) {
      error = copied < 0 ? LastError() : std::make_error_code(std::errc::io_error);
      return false;
    }
    left -= static_cast<std::uint64_t>(copied);
  }
  if (left > 0) {
    files_->buffer.resize(kCopyBuffer);
    std::uint64_t at = offset + (count - left);
    while (left > 0) {
      const std::size_t piece =
          static_cast<std::size_t>(std::min<std::uint64_t>(left, kCopyBuffer));
      if (!ReadAt(files_->source.Get(), files_->buffer.data(), piece, at, error) ||
          !WriteAt(files_->target.Get(), files_->buffer.data(), piece, start + (count - left),
                   error)) {
        return false;
      }
      at += piece;
      left -= piece;
    }
  }
  size_ = start + count;
  // The disk starts on these bytes now, so that the flush before the switch finds little left.
  ::sync_file_range(files_->target.Get(), static_cast<off_t>(start), static_cast<off_t>(count),
                    SYNC_FILE_RANGE_WRITE);
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
  const int fd = files_->target.Release();
  files_.reset();
  if (::close(fd) != 0 && errno != EINTR) {
    error = LastError();
    return false;
  }
  return true;
}

}  // namespace launcher
