#pragma once
// The chunks a large file is built from, checked against the signed index where they now lie in
// the new file, on threads of their own (one a core) while the builder goes on copying: each
// copied byte is read back and hashed once, and since the index's chunks make up the whole file,
// no pass over the whole file is needed after.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "launcher/text/digest.h"

namespace launcher {

class FileAssembly;

class CopiedChunkChecks {
 public:
  // Reads back from `file`, which must outlive the checks.
  explicit CopiedChunkChecks(const FileAssembly& file);
  ~CopiedChunkChecks();  // abandons what is queued and ends the threads
  CopiedChunkChecks(const CopiedChunkChecks&) = delete;
  CopiedChunkChecks& operator=(const CopiedChunkChecks&) = delete;

  // Queues the check of `size` bytes at `offset` of the file, which must be there already.
  void Add(std::uint64_t offset, std::uint64_t size, const Digest& expected);

  // Whether a check has found other bytes than the index's (or couldn't read them) so far.
  bool Failed();

  // Waits for every check queued; true when each found the index's bytes.
  bool AllHold();

 private:
  struct Check {
    std::uint64_t offset;
    std::uint64_t size;
    Digest expected;
  };

  void Work();  // each thread's body
  void Stop();
  bool Holds(const Check& check, std::vector<char>& buffer) const;

  const FileAssembly& file_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Check> queued_;
  std::size_t running_ = 0;  // checks taken off the queue and not done yet
  bool failed_ = false;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace launcher
