#include "launcher/transfer/download.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "launcher/platform/file_writer.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/transfer/http.h"
#include "launcher/transfer/interruptions.h"
#include "launcher/transfer/sha256.h"
#include "launcher/transfer/transfer_settings.h"
#include "launcher/transfer/write_failure.h"
#include "launcher/transfer/written_file_sha256.h"

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
  const std::uint64_t have = std::filesystem::file_size(path, error);
  if (error == std::errc::no_such_file_or_directory) return 0;
  if (error || have > size) {
    Delete(path);
    return 0;
  }
  return have;
}

constexpr wchar_t kCouldNotWrite[] = L"The download couldn't be written";
constexpr wchar_t kEndedEarly[] = L"The download ended before the whole file had arrived";

}  // namespace

void Download(const std::wstring& url, std::uint64_t size, const std::wstring& sha256,
              const std::filesystem::path& path, const DownloadProgress& progress, bool noCache,
              const ReceivedBytes& received) {
  std::uint64_t have = MeasureKept(path, size);
  Sha256 hasher;
  if (have > 0 && AddFilePrefix(hasher, path, have) < have) {
    // The kept bytes couldn't all be read back: start over; the file is overwritten below.
    hasher = Sha256();
    have = 0;
  }

  std::uint64_t written = have;
  FileWriter out;
  std::error_code error;
  // Receiving and writing stay on this thread, as for a plain copy; the hash follows the file.
  std::optional<WrittenFileSha256> digest;
  // Stops the hash's reading first: Windows can't delete a file that is open for it.
  const auto discard = [&] {
    digest.reset();
    out.Close(error);
    Delete(path);
  };
  if (written < size) {
    try {
      HttpGet(
          url, Request{have, noCache},
          [&](std::uint64_t from) {
            if (from != have) {  // the server ignored the range and sends the whole file
              hasher = Sha256();
              written = 0;
            }
            const auto start = written > 0 ? FileWriter::Start::AtEnd : FileWriter::Start::Empty;
            if (!out.Open(path, start, error))
              ThrowWriteFailure(error, size - written, kCouldNotWrite);
            digest.emplace(std::move(hasher), path, written, size);
            progress(written);
          },
          [&](const std::uint8_t* bytes, std::uint64_t count) {
            if (count > size - written) {
              discard();
              throw Failure{Format(
                  L"The download is larger than the {} bytes the update server promised", size)};
            }
            // A failed write stops the transfer at this block: a full disk can't take the rest.
            if (!out.Write(bytes, static_cast<std::size_t>(count), error)) {
              ThrowWriteFailure(error, size - written, kCouldNotWrite);
            }
            digest->Add(bytes, static_cast<std::size_t>(count));
            if (received) received(written, bytes, static_cast<std::size_t>(count));
            written += count;
            progress(written);
          });
    } catch (const RangeRefused&) {
      discard();
      throw Failure{L"The download couldn't be picked up where it stopped"};
    }
    if (!out.Close(error)) ThrowWriteFailure(error, 0, kCouldNotWrite);
  }

  if (written != size) {
    discard();
    throw Failure{kEndedEarly, Format(L"The download was {} bytes, not the {} the update server "
                                      L"promised",
                                      written, size)};
  }
  if (!digest) digest.emplace(std::move(hasher), path, written, size);
  if (digest->FinishHex() != sha256) {
    Delete(path);
    throw WrongBytes{
        {L"The download isn't the release the update server names: its SHA-256 differs"}};
  }
  // What counts is the file at the path: one that someone removed or cut meanwhile isn't the
  // download, whatever went through this call. Only an empty release may be made here.
  const std::uint64_t onDisk = std::filesystem::file_size(path, error);
  if (error == std::errc::no_such_file_or_directory && size == 0) {
    if (!out.Open(path, FileWriter::Start::Empty, error) || !out.Close(error)) {
      ThrowWriteFailure(error, 0, kCouldNotWrite);
    }
    return;
  }
  if (error || onDisk != size) {
    Delete(path);
    throw Failure{kEndedEarly, Format(L"The file on the disk was {} bytes, not the {} the update "
                                      L"server promised",
                                      error ? 0 : onDisk, size)};
  }
}

void DownloadWithRetries(const std::wstring& url, std::uint64_t size, const std::wstring& sha256,
                         const std::filesystem::path& path, const DownloadProgress& progress,
                         const RetryWait& wait, const ReceivedBytes& received) {
  const TransferSettings& settings = Transfers();
  std::size_t retries = 0;
  bool noCache = false;
  for (;;) {
    try {
      Download(url, size, sha256, path, progress, noCache, received);
      return;
    } catch (const WrongBytes&) {
      if (noCache) throw;
      noCache = true;  // once more, past any cache on the way
    } catch (const TransientFailure& failure) {
      if (retries == settings.retryWaits.size()) throw;
      std::chrono::milliseconds pause = settings.retryWaits[retries++];
      if (failure.retryAfter) {
        pause =
            std::min<std::chrono::milliseconds>(*failure.retryAfter, settings.longestRetryAfter);
      }
      wait(pause);
    }
  }
}

}  // namespace launcher
