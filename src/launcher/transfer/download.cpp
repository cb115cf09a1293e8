#include "launcher/transfer/download.h"

#include <fstream>
#include <optional>
#include <system_error>

#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/transfer/http.h"
#include "launcher/transfer/interruptions.h"
#include "launcher/transfer/sha256.h"

namespace launcher {

namespace {

void Delete(const std::filesystem::path& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

// The length of an earlier attempt's file; a file that can't be measured or is longer than the
// release is deleted, and counts as nothing.
std::uint64_t MeasureKept(const std::filesystem::path& path, std::uint64_t size) {
  std::error_code error;
  const bool exists = std::filesystem::exists(path, error);
  if (!error && !exists) return 0;
  const std::uint64_t have = error ? 0 : std::filesystem::file_size(path, error);
  if (error || have > size) {
    Delete(path);
    return 0;
  }
  return have;
}

[[noreturn]] void CouldNotWrite() {
  throw Failure{L"The download couldn't be written"};
}

}  // namespace

void Download(const std::wstring& url, std::uint64_t size, const std::wstring& sha256,
              const std::filesystem::path& path, const DownloadProgress& progress) {
  std::uint64_t have = MeasureKept(path, size);
  Sha256 hasher;
  if (have > 0 && AddFilePrefix(hasher, path, have) < have) {
    // The kept bytes couldn't all be read back: start over; the file is overwritten below.
    hasher = Sha256();
    have = 0;
  }

  std::uint64_t written = have;
  std::optional<std::ofstream> out;
  if (written < size) {
    try {
      HttpGet(
          url, have,
          [&](std::uint64_t from) {
            if (from != have) {  // the server ignored the range and sends the whole file
              hasher = Sha256();
              written = 0;
            }
            out.emplace(path, std::ios::binary | (written > 0 ? std::ios::app : std::ios::trunc));
            if (!out->is_open()) CouldNotWrite();
            progress(written);
          },
          [&](const std::uint8_t* bytes, std::uint64_t count) {
            if (count > size - written) {
              out.reset();
              Delete(path);
              throw Failure{Format(
                  L"The download is larger than the {} bytes the update server promised", size)};
            }
            hasher.Add(bytes, static_cast<std::size_t>(count));
            out->write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
            written += count;
            progress(written);
          });
    } catch (const RangeRefused&) {
      out.reset();
      Delete(path);
      throw Failure{L"The download couldn't be picked up where it stopped"};
    }
    // Write errors of single blocks surface here, once the file is closed.
    if (out) {
      out->close();
      if (out->fail()) CouldNotWrite();
    }
  }

  if (written != size) {
    Delete(path);
    throw Failure{
        Format(L"The download was {} bytes, not the {} the update server promised", written, size)};
  }
  if (hasher.FinishHex() != sha256) {
    Delete(path);
    throw Failure{L"The download isn't the release the update server names: its SHA-256 differs"};
  }
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    // A release of size 0 with nothing there before: the file itself must exist.
    if (!std::ofstream(path, std::ios::binary | std::ios::trunc).is_open()) CouldNotWrite();
  }
}

}  // namespace launcher
