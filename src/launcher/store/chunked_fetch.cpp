#include "launcher/store/chunked_fetch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "launcher/feed/manifest.h"
#include "launcher/platform/file_assembly.h"
#include "launcher/platform/move_into_place.h"
#include "launcher/store/chunk_file.h"
#include "launcher/store/copied_chunk_checks.h"
#include "launcher/store/zstd_unpack.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/log.h"
#include "launcher/text/text.h"
#include "launcher/transfer/http.h"
#include "launcher/transfer/interruptions.h"
#include "launcher/transfer/sha256.h"

namespace launcher {

namespace {

// A stretch of the blob that one Range request fetches: the stored bytes of consecutive missing
// chunks (`first` up to `first + count` of the missing ones).
struct Run {
  std::size_t first = 0;
  std::size_t count = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// Neighbours are fetched together up to this many stored bytes: more would leave the other
// fetchers idle where much of a file is new.
constexpr std::uint64_t kLongestRun = std::uint64_t{4} << 20;

// The bytes of `run` by a Range request, split into its chunks, each decoded when the blob is
// packed and checked against the index. Throws Failure when the server sends anything else, and
// Stopped as soon as `abandoned` is set.
std::vector<std::string> FetchRun(const std::wstring& url, const Run& run,
                                  const std::vector<Chunk>& chunks,
                                  const std::vector<std::uint64_t>& stored, bool packed,
                                  const std::atomic<bool>& abandoned) {
  std::string bytes;
  bool wholeFile = false;
  HttpGet(
      url, Request{run.offset, false, false, run.size},
      [&](std::uint64_t offset) { wholeFile = offset != run.offset; },
      [&](const std::uint8_t* data, std::uint64_t count) {
        if (abandoned) throw Stopped{};
        // A server that ignores Range sends the whole blob: stop at once, it is no chunk.
        if (wholeFile || bytes.size() + count > run.size) throw Failure{L"not the chunk asked for"};
        bytes.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(count));
      });
  if (bytes.size() != run.size) throw Failure{L"not the chunk asked for"};
  std::vector<std::string> pieces;
  std::size_t at = 0;
  for (std::size_t i = run.first; i < run.first + run.count; ++i) {
    const auto length = static_cast<std::size_t>(stored[i]);
    std::optional<std::string> piece = std::string(bytes, at, length);
    at += length;
    if (packed) piece = UnpackBytes(*piece, static_cast<std::size_t>(chunks[i].size));
    if (!piece || piece->size() != chunks[i].size || DigestOf(*piece) != chunks[i].sha256) {
      throw Failure{L"a chunk that isn't the index's"};
    }
    pieces.push_back(std::move(*piece));
  }
  return pieces;
}

// The missing chunks in runs of neighbours: consecutive in the file, and so in the blob.
std::vector<Run> RunsOf(const std::vector<std::size_t>& indices,
                        const std::vector<std::pair<std::uint64_t, std::uint64_t>>& places) {
  std::vector<Run> runs;
  for (std::size_t i = 0; i < indices.size(); ++i) {
    const auto [offset, size] = places[indices[i]];
    if (!runs.empty() && indices[i] == indices[i - 1] + 1 &&
        runs.back().size + size <= kLongestRun) {
      ++runs.back().count;
      runs.back().size += size;
    } else {
      runs.push_back({i, 1, offset, size});
    }
  }
  return runs;
}

// Fetches the missing chunks' runs in the order they are wanted, kChunkFetchers at a time, each
// fetcher on a thread (and so a connection) of its own for all its runs. At most kChunkFetchers
// runs wait for the writer, so memory stays a few runs whatever the file's size.
class ChunkFetchers {
 public:
  ChunkFetchers(std::wstring url, std::vector<Chunk> chunks, std::vector<std::uint64_t> stored,
                std::vector<Run> runs, bool packed)
      : url_(std::move(url)),
        chunks_(std::move(chunks)),
        stored_(std::move(stored)),
        runs_(std::move(runs)),
        packed_(packed),
        ready_(chunks_.size()),
        runOf_(chunks_.size()) {
    for (std::size_t r = 0; r < runs_.size(); ++r) {
      for (std::size_t i = 0; i < runs_[r].count; ++i) runOf_[runs_[r].first + i] = r;
    }
    try {
      for (std::size_t i = 0; i < std::min(kChunkFetchers, runs_.size()); ++i)
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
      std::size_t r = 0;
      {
        std::unique_lock lock(lock_);
        changed_.wait(lock, [&] {
          return stopping_ || failure_.has_value() || claimed_ == runs_.size() ||
                 claimed_ < WritersRun() + kChunkFetchers;
        });
        if (stopping_ || failure_ || claimed_ == runs_.size()) return;
        r = claimed_++;
      }
      std::vector<std::string> pieces;
      std::optional<std::wstring> failure;
      try {
        pieces = FetchRun(url_, runs_[r], chunks_, stored_, packed_, stopping_);
      } catch (const Failure& error) {
        failure = error.message;
      } catch (...) {  // abandoned, a 416, or no memory: the whole file's download will tell
        failure = L"the chunk couldn't be fetched";
      }
      const std::lock_guard lock(lock_);
      if (!failure) {
        for (std::size_t i = 0; i < pieces.size(); ++i) {
          ready_[runs_[r].first + i] = std::move(pieces[i]);
        }
      } else if (!failure_) {
        failure_ = std::move(failure);
      }
      changed_.notify_all();
    }
  }

  std::size_t WritersRun() const { return next_ < runOf_.size() ? runOf_[next_] : runs_.size(); }

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
  const std::vector<Chunk> chunks_;          // the missing ones, in order
  const std::vector<std::uint64_t> stored_;  // the bytes each takes in the blob
  const std::vector<Run> runs_;
  const bool packed_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::optional<std::string>> ready_;
  std::vector<std::size_t> runOf_;
  std::size_t claimed_ = 0;              // runs a fetcher has taken on
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

// Kept chunks that follow one another in the installed file too are copied in one go, up to
// this many bytes: few calls, and progress and the checks still move along.
constexpr std::uint64_t kLongestCopy = std::uint64_t{32} << 20;

// Writes the file at `work`; false when it couldn't be built as the index says. Throws Failure
// for a fetch that failed, and whatever `onPlaced` throws. Every chunk is checked against the
// index: a fetched one as it arrives, a kept one where it was copied to; so the chunks, and with
// them the whole file, are the index's.
bool Build(const ChunkedFile& wanted, const std::filesystem::path& installed,
           const std::vector<std::optional<std::uint64_t>>& sources, const ChunkBlob& blob,
           const std::filesystem::path& work, ChunkTally& tallied,
           const std::function<void(const ChunkTally&)>& onPlaced) {
  // Where each chunk lies in the blob: as in the file, or in its frame of the packed blob.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> places;
  if (blob.frames != nullptr) {
    places = FramePlaces(*blob.frames);
  } else {
    for (const Chunk& chunk : wanted.chunks) places.emplace_back(chunk.offset, chunk.size);
  }
  std::vector<std::size_t> indices;
  std::vector<Chunk> missing;
  std::vector<std::uint64_t> stored;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (sources[i]) continue;
    indices.push_back(i);
    missing.push_back(wanted.chunks[i]);
    stored.push_back(places[i].second);
  }
  FileAssembly out;
  std::error_code error;
  if (!out.Open(installed, work, error)) return false;
  ChunkFetchers fetchers(blob.url, std::move(missing), std::move(stored), RunsOf(indices, places),
                         blob.frames != nullptr);
  CopiedChunkChecks checks(out);
  for (std::size_t i = 0; i < sources.size();) {
    if (checks.Failed()) break;
    if (!sources[i]) {
      const std::string bytes = fetchers.Next();  // checked against the index as it came
      if (!out.Write(bytes.data(), bytes.size(), error)) return false;
      tallied.fetched += wanted.chunks[i++].size;
      onPlaced(tallied);
      continue;
    }
    std::size_t end = i + 1;
    std::uint64_t length = wanted.chunks[i].size;
    while (end < sources.size() && sources[end] == *sources[i] + length &&
           length + wanted.chunks[end].size <= kLongestCopy) {
      length += wanted.chunks[end++].size;
    }
    if (!out.Copy(*sources[i], length, error)) return false;
    for (; i < end; ++i) {
      const Chunk& chunk = wanted.chunks[i];
      checks.Add(chunk.offset, chunk.size, chunk.sha256);
      tallied.taken += chunk.size;
    }
    onPlaced(tallied);
  }
  if (!checks.AllHold()) {
    LogLine(Format(L"{}: the installed file no longer holds what was taken from it",
                   Widen(wanted.path)));
    return false;
  }
  return out.Close(error);
}

}  // namespace

bool FetchByChunks(const ChunkedFile& wanted, const ChunkSource& installed, const ChunkBlob& blob,
                   const std::filesystem::path& work, const std::filesystem::path& destination,
                   ChunkTally& tally, const std::function<void(const ChunkTally&)>& onPlaced) {
  const std::optional<ChunkedFile> held =
      !installed.recorded.empty()
          ? std::optional(ChunkedFile{wanted.path, {}, 0, installed.recorded})
          : ChunkFile(installed.file, wanted.path, WholeDigest::Skip);
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
    if (Build(wanted, installed.file, sources, blob, work, tallied, onPlaced)) {
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
