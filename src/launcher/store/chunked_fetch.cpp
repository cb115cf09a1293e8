#include "launcher/store/chunked_fetch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "launcher/platform/file_writer.h"
#include "launcher/platform/move_into_place.h"
#include "launcher/store/chunk_file.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/log.h"
#include "launcher/text/text.h"
#include "launcher/transfer/background_sha256.h"
#include "launcher/transfer/http.h"
#include "launcher/transfer/interruptions.h"
#include "launcher/transfer/sha256.h"

namespace launcher {

namespace {

// The chunk's bytes by a Range request. Throws Failure when the server sends anything else, and
// Stopped as soon as `abandoned` is set.
std::string FetchChunk(const std::wstring& url, const Chunk& chunk,
                       const std::atomic<bool>& abandoned) {
  std::string bytes;
  bool wholeFile = false;
  HttpGet(
      url, Request{chunk.offset, false, false, chunk.size},
      [&](std::uint64_t offset) { wholeFile = offset != chunk.offset; },
      [&](const std::uint8_t* data, std::uint64_t count) {
        if (abandoned) throw Stopped{};
        // A server that ignores Range sends the whole blob: stop at once, it is no chunk.
        if (wholeFile || bytes.size() + count > chunk.size)
          throw Failure{L"not the chunk asked for"};
        bytes.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
      });
  if (bytes.size() != chunk.size || DigestOf(bytes) != chunk.sha256)
    throw Failure{L"a chunk that isn't the index's"};
  return bytes;
}

// Fetches the chunks in the order they are wanted, kChunkFetchers at a time, each fetcher on a
// thread (and so a connection) of its own for all its chunks. At most kChunkFetchers chunks wait
// for the writer, so memory stays a few MiB whatever the file's size.
class ChunkFetchers {
 public:
  ChunkFetchers(std::wstring url, std::vector<Chunk> chunks)
      : url_(std::move(url)), chunks_(std::move(chunks)), ready_(chunks_.size()) {
    try {
      for (std::size_t i = 0; i < std::min(kChunkFetchers, chunks_.size()); ++i)
        threads_.emplace_back([this] { Work(); });
    } catch (...) {
      Stop();
      throw;
    }
  }
  ~ChunkFetchers() { Stop(); }
  ChunkFetchers(const ChunkFetchers&) = delete;
  ChunkFetchers& operator=(const ChunkFetchers&) = delete;

  // The next chunk's bytes, in order. Throws Failure once any fetch has failed.
  std::string Next() {
    std::unique_lock lock(lock_);
    changed_.wait(lock, [&] { return ready_[next_].has_value() || failure_.has_value(); });
    if (failure_) throw Failure{*failure_};
    std::string bytes = std::move(*ready_[next_]);
    ready_[next_++].reset();
    changed_.notify_all();
    return bytes;
  }

 private:
  void Work() {
    for (;;) {
      std::size_t i = 0;
      {
        std::unique_lock lock(lock_);
        changed_.wait(lock, [&] {
          return stopping_ || failure_.has_value() || claimed_ == chunks_.size() ||
                 claimed_ < next_ + kChunkFetchers;
        });
        if (stopping_ || failure_ || claimed_ == chunks_.size()) return;
        i = claimed_++;
      }
      std::string bytes;
      std::optional<std::wstring> failure;
      try {
        bytes = FetchChunk(url_, chunks_[i], stopping_);
      } catch (const Failure& error) {
        failure = error.message;
      } catch (...) {  // abandoned, a 416, or no memory: the whole file's download will tell
        failure = L"the chunk couldn't be fetched";
      }
      const std::lock_guard lock(lock_);
      if (!failure) {
        ready_[i] = std::move(bytes);
      } else if (!failure_) {
        failure_ = std::move(failure);
      }
      changed_.notify_all();
    }
  }

  // Fetches under way end at their next block: a player who stops doesn't wait for a chunk.
  void Stop() {
    {
      const std::lock_guard lock(lock_);
      stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
  }

  const std::wstring url_;
  const std::vector<Chunk> chunks_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::optional<std::string>> ready_;
  std::size_t claimed_ = 0;              // chunks a fetcher has taken on
  std::size_t next_ = 0;                 // the chunk the writer waits for
  std::optional<std::wstring> failure_;  // the first fetch's that failed
  std::atomic<bool> stopping_ = false;   // set under lock_, read by fetches without it
  std::vector<std::thread> threads_;
};

// Where each wanted chunk comes from: an offset in the installed file, or nothing (fetched).
std::vector<std::optional<std::uint64_t>> SourcesOf(const ChunkedFile& wanted,
                                                    const ChunkedFile& held) {
  const auto digestOrder = [](const Chunk& a, const Chunk& b) { return a.sha256 < b.sha256; };
  std::vector<Chunk> byDigest = held.chunks;
  std::sort(byDigest.begin(), byDigest.end(), digestOrder);
  std::vector<std::optional<std::uint64_t>> sources;
  sources.reserve(wanted.chunks.size());
  for (const Chunk& chunk : wanted.chunks) {
    const auto found = std::lower_bound(byDigest.begin(), byDigest.end(), chunk, digestOrder);
    const bool there =
        found != byDigest.end() && found->sha256 == chunk.sha256 && found->size == chunk.size;
    sources.push_back(there ? std::optional(found->offset) : std::nullopt);
  }
  return sources;
}

// Writes the file at `work`; false when it couldn't be built as the index says. Throws Failure
// for a fetch that failed, and whatever `onPlaced` throws.
bool Build(const ChunkedFile& wanted, const std::filesystem::path& installed,
           const std::vector<std::optional<std::uint64_t>>& sources, const std::wstring& blobUrl,
           const std::filesystem::path& work, ChunkTally& tallied,
           const std::function<void(const ChunkTally&)>& onPlaced) {
  std::vector<Chunk> missing;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (!sources[i]) missing.push_back(wanted.chunks[i]);
  }
  std::ifstream in(installed, std::ios::binary);
  FileWriter out;
  std::error_code error;
  if (!in.good() || !out.Open(work, FileWriter::Start::Empty, error)) return false;
  ChunkFetchers fetchers(blobUrl, std::move(missing));
  // Taken chunks aren't hashed on their own: should the installed file change after it was cut,
  // the whole file's digest tells.
  BackgroundSha256 whole(Sha256(), wanted.size);
  std::string bytes;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const Chunk& chunk = wanted.chunks[i];
    if (sources[i]) {
      bytes.resize(static_cast<std::size_t>(chunk.size));
      in.seekg(static_cast<std::streamoff>(*sources[i]));
      if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return false;
      tallied.taken += chunk.size;
    } else {
      bytes = fetchers.Next();
      tallied.fetched += chunk.size;
    }
    whole.Add(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    if (!out.Write(bytes.data(), bytes.size(), error)) return false;
    onPlaced(tallied);
  }
  return out.Close(error) && whole.FinishHex() == wanted.sha256.Hex();
}

}  // namespace

bool FetchByChunks(const ChunkedFile& wanted, const std::filesystem::path& installed,
                   const std::wstring& blobUrl, const std::filesystem::path& work,
                   const std::filesystem::path& destination, ChunkTally& tally,
                   const std::function<void(const ChunkTally&)>& onPlaced) {
  const std::optional<ChunkedFile> held = ChunkFile(installed, wanted.path, WholeDigest::Skip);
  if (!held) return false;
  const std::vector<std::optional<std::uint64_t>> sources = SourcesOf(wanted, *held);
  if (std::none_of(sources.begin(), sources.end(), [](const auto& source) { return source; })) {
    LogLine(Format(L"{}: fetched whole, the installed file holds none of its chunks",
                   Widen(wanted.path)));
    return false;
  }
  ChunkTally tallied;
  bool built = false;
  // Whatever way this ends short of the file in place, the work file goes.
  struct RemoveWork {
    const std::filesystem::path& work;
    const bool& built;
    ~RemoveWork() {
      std::error_code ignored;
      if (!built) std::filesystem::remove(work, ignored);
    }
  } removeWork{work, built};
  try {
    if (Build(wanted, installed, sources, blobUrl, work, tallied, onPlaced)) {
      MoveIntoPlace(work, destination);
      built = true;
    }
  } catch (const Failure& failure) {
    LogLine(Format(L"{}: fetched whole instead of by chunks ({})", Widen(wanted.path),
                   failure.message));
  } catch (const std::system_error&) {  // a file system's failure, or no thread to fetch with
  }
  if (!built) return false;
  tally.taken += tallied.taken;
  tally.fetched += tallied.fetched;
  LogLine(Format(L"{}: {} bytes taken from the installed file, {} fetched by chunks",
                 Widen(wanted.path), tallied.taken, tallied.fetched));
  return true;
}

}  // namespace launcher
