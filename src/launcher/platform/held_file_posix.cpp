// POSIX implementation of HeldFile and MakePrivateFolder: O_NOFOLLOW, and mkdtemp's mode 0700.

#include "launcher/platform/held_file.h"

#include <fcntl.h>
#include <stdlib.h>

#include <cerrno>
#include <string>

#include "launcher/platform/file_descriptor.h"

namespace launcher {

struct HeldFile::Handle {
  FileDescriptor file;
};

HeldFile::HeldFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
HeldFile::~HeldFile() = default;

std::unique_ptr<HeldFile> HeldFile::Open(const std::filesystem::path& file) {
  FileDescriptor opened(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!opened) return nullptr;
  auto handle = std::make_unique<Handle>();
  handle->file = std::move(opened);
  return std::unique_ptr<HeldFile>(new HeldFile(std::move(handle)));
}

std::int64_t HeldFile::Read(void* buffer, std::size_t count) {
  for (;;) {
    const ssize_t got = ::read(handle_->file.Get(), buffer, count);
    if (got >= 0 || errno != EINTR) return got;
  }
}

bool HoldingKeepsWritersOut() {
  return false;
}

std::filesystem::path MakePrivateFolder(const std::filesystem::path& parent,
                                        const std::filesystem::path::string_type& prefix) {
  std::string pattern = (parent / (prefix + "XXXXXX")).native();
  if (::mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

}  // namespace launcher
