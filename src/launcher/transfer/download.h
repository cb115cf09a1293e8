#pragma once
// One file that the update feed names, brought onto the disk complete and verified: exactly the
// promised size and SHA-256. Whatever stands at the path is taken for an earlier, unfinished
// attempt at the same file: its bytes are kept, hashed again and only the rest is asked for.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "launcher/transfer/block_list.h"

namespace launcher {

// Bytes of the file in place so far, including those kept from an earlier attempt.
using DownloadProgress = std::function<void(std::uint64_t written)>;

// Each block as it is written, with the file offset it went to: for a consumer of the bytes as
// they arrive. A download that resumes or starts over shows as an offset that doesn't follow on.
using ReceivedBytes =
    std::function<void(std::uint64_t offset, const std::uint8_t* bytes, std::size_t count)>;

// Bytes used as they arrive, beside the file.
struct Streamed {
  // Each block as it is written; with `blocks`, each block once checked instead, in order from
  // the file's start, on a thread of the download's own.
  ReceivedBytes received;
  // The file's block list, which the signed feed names: every block is checked against it before
  // it is handed on, fetched again alone when it isn't the list's, and the list stands for the
  // whole file's digest (a block that was fetched again may still be wrong in the file itself).
  const BlockList* blocks = nullptr;
  // With blocks: what an earlier attempt of this run handed on already, a whole number of blocks;
  // those are neither read nor handed on again.
  std::uint64_t handedOn = 0;
};

// Runs on the calling thread, callbacks too. On return the file at `path` has `size` bytes whose
// digest is `sha256` (64 lower-case hexadecimal characters). Throws Failure with the player's
// message; a file that turned out wrong is deleted, one cut off stays to be resumed. An exception
// thrown by `progress` (Stopped, for one) passes through unchanged, leaving the bytes written so
// far.
// `noCache` asks caches on the way for the origin's copy. Bytes that arrive whole but aren't the
// file throw WrongBytes; a broken or too slow connection and 5xx and 429 answers throw
// TransientFailure.
void Download(const std::wstring& url, std::uint64_t size, const std::wstring& sha256,
              const std::filesystem::path& path, const DownloadProgress& progress,
              bool noCache = false, const Streamed& streamed = {});

// Waiting between attempts; it may throw to give up early (Stopped, for one).
using RetryWait = std::function<void(std::chrono::milliseconds)>;

inline void SleepFor(std::chrono::milliseconds pause) {
  std::this_thread::sleep_for(pause);
}

// Download, tried again after each transient fault while Transfers().retryWaits last (1, 2 and
// 4 seconds, or the server's Retry-After up to 60), each time resuming what arrived; and once more
// with "Cache-Control: no-cache" after bytes that weren't the file's. Throws the last failure.
void DownloadWithRetries(const std::wstring& url, std::uint64_t size, const std::wstring& sha256,
                         const std::filesystem::path& path, const DownloadProgress& progress,
                         const RetryWait& wait, const Streamed& streamed = {});

}  // namespace launcher
