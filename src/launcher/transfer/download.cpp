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
#include "launcher/transfer/verified_blocks.h"
#include "launcher/transfer/write_failure.h"
#include "launcher/transfer/written_file_sha256.h"

namespace launcher {

namespace {

void Delete(const std::filesystem::path& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

// The length of an earlier attempt's file; anything but a plain file (a link is never followed),
// or one that can't be measured or is longer than the release, is deleted and counts as nothing.
std::uint64_t MeasureKept(const std::filesystem::path& path, std::uint64_t size) {
  std::error_code error;
  const auto status = std::filesystem::symlink_status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return 0;
  const std::uint64_t have =
      std::filesystem::is_regular_file(status) ? std::filesystem::file_size(path, error) : 0;
  if (error || have > size || !std::filesystem::is_regular_file(status)) {
    Delete(path);
    return 0;
  }
  return have;
}

constexpr wchar_t kCouldNotWrite[] = L"The download couldn't be written";
constexpr wchar_t kEndedEarly[] = L"The download ended before the whole file had arrived";

// One call of Download: the file at its path as it grows, and the check of what it holds: its
// digest, or its blocks.
class FileDownload {
 public:
  FileDownload(const std::wstring& url, std::uint64_t size, const std::filesystem::path& path,
               bool noCache, const Streamed& streamed)
      : url_(url),
        size_(size),
        path_(path),
        noCache_(noCache),
        streamed_(streamed),
        have_(MeasureKept(path, size)) {
    // Checked blocks are read back by their own thread, kept ones too.
    if (!streamed.blocks && have_ > 0 && AddFilePrefix(hasher_, path_, have_) < have_) {
      // The kept bytes couldn't all be read back: start over; the file is overwritten.
      hasher_ = Sha256();
      have_ = 0;
    }
    written_ = have_;
  }

  std::uint64_t Kept() const { return have_; }
  std::uint64_t Written() const { return written_; }

  // The body begins at `from`: where the kept bytes end, or 0 when the server ignored the range.
  void Start(std::uint64_t from) {
    if (from != have_) {
      hasher_ = Sha256();
      written_ = 0;
    }
    const auto start = written_ > 0 ? FileWriter::Start::AtEnd : FileWriter::Start::Empty;
    if (!out_.Open(path_, start, error_))
      ThrowWriteFailure(error_, size_ - written_, kCouldNotWrite);
    StartCheck();
  }

  void Take(const std::uint8_t* bytes, std::uint64_t count) {
    if (count > size_ - written_) {
      Discard();
      throw Failure{
          Format(L"The download is larger than the {} bytes the update server promised", size_)};
    }
    // A failed write stops the transfer at this block: a full disk can't take the rest.
    if (!out_.Write(bytes, static_cast<std::size_t>(count), error_)) {
      ThrowWriteFailure(error_, size_ - written_, kCouldNotWrite);
    }
    if (blocks_) {
      blocks_->Add(count);
    } else {
      digest_->Add(bytes, static_cast<std::size_t>(count));
      if (streamed_.received) streamed_.received(written_, bytes, static_cast<std::size_t>(count));
    }
    written_ += count;
  }

  void Close() {
    if (!out_.Close(error_)) ThrowWriteFailure(error_, 0, kCouldNotWrite);
  }

  // Stops the check's reading first: Windows can't delete a file that is open for it.
  void Discard() {
    digest_.reset();
    blocks_.reset();
    std::error_code ignored;  // the file goes anyway
    static_cast<void>(out_.Close(ignored));
    Delete(path_);
  }

  // Throws unless the file holds exactly the release's bytes; deletes one that doesn't.
  void Verify(const std::wstring& sha256) {
    if (written_ != size_) {
      Discard();
      throw Failure{kEndedEarly, Format(L"The download was {} bytes, not the {} the update server "
                                        L"promised",
                                        written_, size_)};
    }
    if (!digest_ && !blocks_) StartCheck();
    if (blocks_) {
      try {
        blocks_->Finish();
      } catch (const WrongBytes&) {
        Discard();
        throw;
      }
    } else if (digest_->FinishHex() != sha256) {
      Delete(path_);
      throw WrongBytes{
          {L"The download isn't the release the update server names: its SHA-256 differs"}};
    }
    VerifyOnDisk();
  }

 private:
  void StartCheck() {
    if (!streamed_.blocks) {
      digest_.emplace(std::move(hasher_), path_, written_, size_);
      return;
    }
    const auto refetch = [this](std::uint64_t offset, std::uint64_t length) {
      std::string bytes;
      HttpGet(
          url_, Request{offset, noCache_, false, length},
          [&](std::uint64_t at) {
            if (at != offset)
              throw WrongBytes{{L"The server answered with another part of the file"}};
          },
          [&](const std::uint8_t* data, std::uint64_t count) {
            if (bytes.size() + count > length)
              throw WrongBytes{{L"The server sent more than asked"}};
            bytes.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
          });
      return bytes;
    };
    blocks_.emplace(*streamed_.blocks, path_, written_, size_, streamed_.handedOn,
                    streamed_.received, refetch);
  }

  // What counts is the file at the path: one that someone removed or cut meanwhile isn't the
  // download, whatever went through this call. Only an empty release may be made here.
  void VerifyOnDisk() {
    const std::uint64_t onDisk = std::filesystem::file_size(path_, error_);
    if (error_ == std::errc::no_such_file_or_directory && size_ == 0) {
      if (!out_.Open(path_, FileWriter::Start::Empty, error_) || !out_.Close(error_)) {
        ThrowWriteFailure(error_, 0, kCouldNotWrite);
      }
      return;
    }
    if (error_ || onDisk != size_) {
      Delete(path_);
      throw Failure{kEndedEarly, Format(L"The file on the disk was {} bytes, not the {} the "
                                        L"update server promised",
                                        error_ ? 0 : onDisk, size_)};
    }
  }

  const std::wstring& url_;
  const std::uint64_t size_;
  const std::filesystem::path& path_;
  const bool noCache_;
  const Streamed& streamed_;
  Sha256 hasher_;
  std::uint64_t have_ = 0;     // kept from an earlier attempt
  std::uint64_t written_ = 0;  // in the file now
  FileWriter out_;
  std::error_code error_;
  std::optional<WrittenFileSha256> digest_;
  std::optional<VerifiedBlocks> blocks_;
};

}  // namespace

void Download(const std::wstring& url, std::uint64_t size, const std::wstring& sha256,
              const std::filesystem::path& path, const DownloadProgress& progress, bool noCache,
              const Streamed& streamed) {
  FileDownload file(url, size, path, noCache, streamed);
  if (file.Written() < size) {
    try {
      HttpGet(
          url, Request{file.Kept(), noCache},
          [&](std::uint64_t from) {
            file.Start(from);
            progress(file.Written());
          },
          [&](const std::uint8_t* bytes, std::uint64_t count) {
            file.Take(bytes, count);
            progress(file.Written());
          });
    } catch (const RangeRefused&) {
      file.Discard();
      throw Failure{L"The download couldn't be picked up where it stopped"};
    }
    file.Close();
  }
  file.Verify(sha256);
}

void DownloadWithRetries(const std::wstring& url, std::uint64_t size, const std::wstring& sha256,
                         const std::filesystem::path& path, const DownloadProgress& progress,
                         const RetryWait& wait, const Streamed& streamed) {
  const TransferSettings& settings = Transfers();
  std::size_t retries = 0;
  bool noCache = false;
  // Checked blocks once handed on are so for good: a new attempt goes on from the next.
  Streamed attempt = streamed;
  if (streamed.blocks) {
    attempt.received = [&](std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
      streamed.received(offset, bytes, count);
      attempt.handedOn = offset + count;
    };
  }
  for (;;) {
    if (PastUpdateDeadline()) ThrowPastDeadline();
    try {
      Download(url, size, sha256, path, progress, noCache, attempt);
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
