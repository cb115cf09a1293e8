#include "launcher/store/streamed_unpack.h"

#include "launcher/store/unpack.h"

namespace launcher {

void StreamedUnpack::Add(std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
  if (broken_ || count == 0) return;
  // tar starts with the first bytes, which also say whether they are gzip's.
  if (!tar_ && offset == 0 && count >= 2) {
    tar_.emplace(StartUnpacking(folder_, bytes[0] == 0x1f && bytes[1] == 0x8b));
  }
  if (!tar_ || offset != fed_ || !tar_->Feed(bytes, count)) {
    broken_ = true;
    tar_.reset();  // ends tar, which then stops at the cut archive
    return;
  }
  fed_ += count;
}

bool StreamedUnpack::Finish(std::uint64_t size) {
  if (broken_ || !tar_) return false;
  return tar_->Finish() == 0 && fed_ == size;
}

}  // namespace launcher
