#pragma once
// A SHA-256 computed on a thread of its own while the caller goes on with the same bytes (cutting
// a large file into chunks, building one from them), so the caller's work and the hash overlap.
// The caller's blocks are copied into a small ring of larger slots; the hashing thread takes them
// in order. Small inputs are hashed on the calling thread: a thread isn't worth it for them.
// A download is hashed by WrittenFileSha256 instead, which needs no copy.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "launcher/transfer/sha256.h"

namespace launcher {

class BackgroundSha256 {
 public:
  // Continues `hasher` (which may hold a prefix already); `expected` bytes in all are coming,
  // and at or above kBackgroundFrom they are hashed on a thread of its own.
  BackgroundSha256(Sha256 hasher, std::uint64_t expected);
  ~BackgroundSha256();  // abandons what is queued and ends the thread
  BackgroundSha256(const BackgroundSha256&) = delete;
  BackgroundSha256& operator=(const BackgroundSha256&) = delete;

  // Waits while the ring is full. Throws what hashing threw (Failure).
  void Add(const std::uint8_t* bytes, std::size_t count);
  // Waits until every byte added is hashed. Call once.
  std::wstring FinishHex();

  static constexpr std::uint64_t kBackgroundFrom = 4194304;
  static constexpr std::size_t kSlotSize = 262144;
  static constexpr std::size_t kSlots = 8;

 private:
  void Publish();  // hands the slot being filled to the hashing thread
  void HashAll();  // the hashing thread's body

  Sha256 hasher_;
  bool background_;
  std::vector<std::uint8_t> ring_;
  std::size_t filling_ = 0;  // bytes in the slot being filled (the producer's own)

  std::mutex lock_;
  std::condition_variable changed_;
  std::uint64_t published_ = 0;  // slots handed over; each slot's length is in lengths_
  std::uint64_t hashed_ = 0;     // slots the hashing thread is done with
  std::size_t lengths_[kSlots] = {};
  bool closing_ = false;    // no more slots will come
  bool abandoned_ = false;  // and those queued aren't wanted
  std::exception_ptr error_;
  std::thread thread_;
};

}  // namespace launcher
