#include "tools/publish/server/blob_writer.h"

#include "launcher/feed/server_layout.h"
#include "launcher/store/kept_files.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/text.h"

namespace launcher::publish {
namespace {

// Enough to keep the writer busy while tar goes on, little beside an 8 MiB small file held.
constexpr std::size_t kMostQueued = 32 << 20;

}  // namespace

BlobWriter::BlobWriter(std::filesystem::path server, ServerChanges& changes,
                       std::vector<std::optional<TarFollower::Member>> known)
    : server_(std::move(server)),
      changes_(changes),
      known_(std::move(known)),
      thread_([this] { WriteAll(); }) {}

BlobWriter::~BlobWriter() {
  {
    const std::lock_guard lock(mutex_);
    finishing_ = true;
    queue_.clear();
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void BlobWriter::Bytes(std::size_t index, std::string_view bytes) {
  if (index < known_.size() && known_[index]) {
    Queue({index, std::string(bytes), queuedFile_ != index, false, {}});
  } else {
    held_.append(bytes);
  }
}

void BlobWriter::Ended(std::size_t index, const TarFollower::Member& member) {
  const bool known = index < known_.size() && known_[index];
  Queue({index, known ? std::string() : std::move(held_), !known || queuedFile_ != index, true,
         member});
  held_.clear();
}

void BlobWriter::Queue(Piece piece) {
  queuedFile_ = piece.index;
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return queuedBytes_ < kMostQueued || queue_.empty(); });
  queuedBytes_ += piece.bytes.size();
  queue_.push_back(std::move(piece));
  changed_.notify_all();
}

BlobWriter::Written BlobWriter::Finish() {
  {
    const std::lock_guard lock(mutex_);
    finishing_ = true;
  }
  changed_.notify_all();
  thread_.join();
  if (failure_) std::rethrow_exception(failure_);
  return std::move(written_);
}

void BlobWriter::WriteAll() {
  for (;;) {
    Piece piece;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return finishing_ || !queue_.empty(); });
      if (queue_.empty()) return;
      piece = std::move(queue_.front());
      queue_.pop_front();
      queuedBytes_ -= piece.bytes.size();
    }
    changed_.notify_all();
    // After a failure the rest is taken and dropped, so tar isn't left waiting.
    if (failure_) continue;
    try {
      Write(piece);
    } catch (...) {
      failure_ = std::current_exception();
      out_.reset();
    }
  }
}

void BlobWriter::Write(Piece& piece) {
  const TarFollower::Member& blob =
      piece.index < known_.size() && known_[piece.index] ? *known_[piece.index] : piece.member;
  const std::filesystem::path target = server_ / PathFromWide(layout::BlobName(blob.sha256));
  if (piece.first) {
    out_.reset();
    if (!placing_.contains(blob.sha256) && !HoldsExactly(target, blob.size, blob.sha256)) {
      temporary_ = changes_.Temporary(target);
      out_.emplace(temporary_, std::ios::binary);
    }
  }
  if (!out_) {
    if (piece.last) ++written_.kept;
    return;
  }
  out_->write(piece.bytes.data(), static_cast<std::streamsize>(piece.bytes.size()));
  if (piece.last) out_->close();
  if (!*out_) throw Failure{Format(L"{} couldn't be written", WideFromPath(target))};
  if (!piece.last) return;
  out_.reset();
  placing_.insert(blob.sha256);
  written_.blobs.emplace_back(temporary_, target);
  written_.bytes += blob.size;
}

}  // namespace launcher::publish
