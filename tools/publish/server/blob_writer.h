#pragma once
// The blobs of a release written from the bytes its archive's tar reads, on a thread of their
// own so that tar (and the compressor behind it) isn't kept waiting. A file's bytes are held
// until its digest says whether the server has its blob already, so publishing a build again
// writes no blob twice; a file whose digest is known before its bytes come (a large one, cut into
// chunks first) is written as it comes instead, which bounds what is held to the small files.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "tools/publish/server/server_changes.h"
#include "tools/publish/server/tar_follower.h"

namespace launcher::publish {

class BlobWriter {
 public:
  struct Written {
    // Temporary files and the blob names they go to, once the release is sure to be published.
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> blobs;
    std::size_t kept = 0;  // files whose blob the server has already
    std::uint64_t bytes = 0;
  };

  // Blobs go to their names in the server folder `server` through temporaries of `changes`,
  // which only this writer uses until Finish. `known` holds, by file, the digest and size known
  // before the file's bytes come.
  BlobWriter(std::filesystem::path server, ServerChanges& changes,
             std::vector<std::optional<TarFollower::Member>> known);
  ~BlobWriter();  // abandons what is queued
  BlobWriter(const BlobWriter&) = delete;
  BlobWriter& operator=(const BlobWriter&) = delete;

  // As a TarFollower reports them. Waits while much is queued.
  void Bytes(std::size_t index, std::string_view bytes);
  void Ended(std::size_t index, const TarFollower::Member& member);

  // Waits until every file is written or found kept. Throws Failure when a blob couldn't be
  // written. Once.
  Written Finish();

 private:
  struct Piece {
    std::size_t index = 0;
    std::string bytes;
    bool first = false;
    bool last = false;
    TarFollower::Member member;  // when last
  };

  void Queue(Piece piece);
  void WriteAll();  // the writing thread's body
  void Write(Piece& piece);

  const std::filesystem::path server_;
  ServerChanges& changes_;
  const std::vector<std::optional<TarFollower::Member>> known_;
  std::string held_;                   // the small file whose bytes are coming (producer's own)
  std::size_t queuedFile_ = SIZE_MAX;  // the last file a piece was queued for (producer's own)

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Piece> queue_;
  std::size_t queuedBytes_ = 0;
  bool finishing_ = false;
  std::exception_ptr failure_;

  // The writing thread's own.
  Written written_;
  std::set<Digest> placing_;  // digests written in this run, for a build with copies of a file
  std::filesystem::path temporary_;
  std::optional<std::ofstream> out_;  // the blob being written, if it is
  std::thread thread_;
};

}  // namespace launcher::publish
