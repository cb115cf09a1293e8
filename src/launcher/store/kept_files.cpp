#include "launcher/store/kept_files.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "launcher/platform/file_writer.h"
#include "launcher/text/failure.h"
#include "launcher/transfer/sha256.h"
#include "launcher/transfer/write_failure.h"

namespace launcher {

namespace {

constexpr wchar_t kCouldNotCopy[] = L"A kept file couldn't be copied";

[[noreturn]] void CouldNotCopy() {
  throw Failure{kCouldNotCopy};
}

}  // namespace

Digest HashFile(const std::filesystem::path& file) {
  Sha256 hasher;
  AddFilePrefix(hasher, file, std::numeric_limits<std::uint64_t>::max());
  return {hasher.Finish()};
}

bool HoldsExactly(const std::filesystem::path& file, std::uint64_t size, const Digest& sha256) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(std::filesystem::status(file, error))) return false;
  const std::uint64_t held = std::filesystem::file_size(file, error);
  return !error && held == size && HashFile(file) == sha256;
}

Digest CopyHashed(const std::filesystem::path& source, const std::filesystem::path& destination,
                  const std::function<void(unsigned long long)>& onCopied) {
  std::ifstream in(source, std::ios::binary);
  if (!in.good()) CouldNotCopy();
  std::error_code error;
  std::uint64_t left = std::filesystem::file_size(source, error);
  FileWriter out;
  if (!out.Open(destination, FileWriter::Start::Empty, error)) {
    ThrowWriteFailure(error, left, kCouldNotCopy);
  }
  Sha256 hasher;
  std::vector<char> buffer(kHashBufferSize);
  for (;;) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize count = in.gcount();
    if (count <= 0) break;
    hasher.Add(buffer.data(), static_cast<std::size_t>(count));
    if (!out.Write(buffer.data(), static_cast<std::size_t>(count), error)) {
      ThrowWriteFailure(error, left, kCouldNotCopy);
    }
    left -= std::min<std::uint64_t>(left, static_cast<std::uint64_t>(count));
    onCopied(static_cast<unsigned long long>(count));
  }
  // The end of the source sets failbit; only badbit means a read went wrong.
  if (!out.Close(error)) ThrowWriteFailure(error, 0, kCouldNotCopy);
  if (in.bad()) CouldNotCopy();
  return {hasher.Finish()};
}

bool CopySmallIfHolds(const std::filesystem::path& source, const std::filesystem::path& destination,
                      std::uint64_t size, const Digest& sha256,
                      const std::function<void(unsigned long long)>& onCopied) {
  std::ifstream in(source, std::ios::binary);
  if (!in.good() || size > kHashBufferSize) CouldNotCopy();
  // One byte more than expected shows a file that grew.
  std::string bytes(static_cast<std::size_t>(size) + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) CouldNotCopy();
  if (static_cast<std::uint64_t>(in.gcount()) != size) return false;
  bytes.resize(static_cast<std::size_t>(size));
  if (DigestOf(bytes) != sha256) return false;
  std::error_code error;
  FileWriter out;
  if (!out.Open(destination, FileWriter::Start::Empty, error) ||
      !out.Write(bytes.data(), bytes.size(), error)) {
    ThrowWriteFailure(error, size, kCouldNotCopy);
  }
  if (!out.Close(error)) ThrowWriteFailure(error, 0, kCouldNotCopy);
  onCopied(static_cast<unsigned long long>(size));
  return true;
}

}  // namespace launcher
