#include "launcher/store/kept_files.h"

#include <fstream>
#include <limits>
#include <system_error>
#include <vector>

#include "launcher/text/failure.h"
#include "launcher/transfer/sha256.h"

namespace launcher {

namespace {

[[noreturn]] void CouldNotCopy() {
  throw Failure{L"A kept file couldn't be copied"};
}

}  // namespace

std::wstring HashFile(const std::filesystem::path& file) {
  Sha256 hasher;
  AddFilePrefix(hasher, file, std::numeric_limits<std::uint64_t>::max());
  return hasher.FinishHex();
}

bool HoldsExactly(const std::filesystem::path& file, std::uint64_t size,
                  const std::wstring& sha256) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(std::filesystem::status(file, error))) return false;
  const std::uint64_t held = std::filesystem::file_size(file, error);
  return !error && held == size && HashFile(file) == sha256;
}

std::wstring CopyHashed(const std::filesystem::path& source,
                        const std::filesystem::path& destination,
                        const std::function<void(unsigned long long)>& onCopied) {
  std::ifstream in(source, std::ios::binary);
  std::ofstream out(destination, std::ios::binary | std::ios::trunc);
  if (!in.good() || !out.good()) CouldNotCopy();
  Sha256 hasher;
  std::vector<char> buffer(kHashBufferSize);
  for (;;) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::streamsize count = in.gcount();
    if (count <= 0) break;
    hasher.Add(buffer.data(), static_cast<std::size_t>(count));
    out.write(buffer.data(), count);
    onCopied(static_cast<unsigned long long>(count));
  }
  out.close();
  // The end of the source sets failbit; only badbit means a read went wrong.
  if (out.fail() || in.bad()) CouldNotCopy();
  return hasher.FinishHex();
}

}  // namespace launcher
