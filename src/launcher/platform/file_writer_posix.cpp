// POSIX implementation of FileWriter: open, write and close, retried on EINTR.

#include "launcher/platform/file_writer.h"

#include <fcntl.h>

#include <cerrno>

#include "launcher/platform/file_descriptor.h"

namespace launcher {

struct FileWriter::Handle {
  FileDescriptor file;
};

FileWriter::FileWriter() = default;
FileWriter::~FileWriter() = default;
FileWriter::FileWriter(FileWriter&&) noexcept = default;
FileWriter& FileWriter::operator=(FileWriter&&) noexcept = default;

bool FileWriter::Open(const std::filesystem::path& file, Start start, std::error_code& error) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
  if (start == Start::Empty) {
    // A new file, never one that a link or another name leads to: the name goes first, and a
    // name made again meanwhile fails the open.
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
      error.assign(errno, std::generic_category());
      return false;
    }
    flags |= O_EXCL;
  } else {
    flags |= O_APPEND;
  }
  FileDescriptor opened(::open(file.c_str(), flags, 0644));
  if (!opened) {
    error.assign(errno, std::generic_category());
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
    const ssize_t written = ::write(handle_->file.Get(), next, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      // A write that makes no progress without an error is a full disk too.
      error.assign(written < 0 ? errno : ENOSPC, std::generic_category());
      return false;
    }
    next += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

bool FileWriter::Flush(std::error_code& error) {
  if (::fsync(handle_->file.Get()) == 0) return true;
  error.assign(errno, std::generic_category());
  return false;
}

bool FileWriter::Close(std::error_code& error) {
  if (!handle_) return true;
  const int fd = handle_->file.Release();
  handle_.reset();
  if (::close(fd) != 0 && errno != EINTR) {
    error.assign(errno, std::generic_category());
    return false;
  }
  return true;
}

bool IsDiskFull(const std::error_code& error) {
  return error == std::errc::no_space_on_device || error.value() == EDQUOT;
}

}  // namespace launcher
