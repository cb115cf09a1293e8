#include "launcher/store/archive_decoder.h"

#include <zlib.h>

#include <new>
#include <vector>

#include "launcher/text/failure.h"

namespace launcher {

namespace {

[[noreturn]] void Malformed() {
  throw Failure{L"The release's archive isn't one"};
}

constexpr std::size_t kOutputBlock = 262144;

}  // namespace

struct ArchiveDecoder::Gzip {
  Gzip() {
    // 15 + 16: the largest window, and a gzip header and trailer around the deflate stream.
    if (inflateInit2(&stream, 15 + 16) != Z_OK) throw std::bad_alloc();
  }
  ~Gzip() { inflateEnd(&stream); }
  Gzip(const Gzip&) = delete;
  Gzip& operator=(const Gzip&) = delete;

  z_stream stream{};
  bool ended = false;  // a member ended and no other began
  std::vector<char> output = std::vector<char>(kOutputBlock);
};

ArchiveDecoder::ArchiveDecoder(Output output) : output_(std::move(output)) {}

ArchiveDecoder::~ArchiveDecoder() = default;

void ArchiveDecoder::Take(const std::uint8_t* bytes, std::size_t count) {
  if (format_ == Format::Unknown) {
    head_.append(reinterpret_cast<const char*>(bytes), count);
    if (head_.size() < 2) return;
    const bool gzip = static_cast<unsigned char>(head_[0]) == 0x1f &&
                      static_cast<unsigned char>(head_[1]) == 0x8b;
    format_ = gzip ? Format::Gzip : Format::Plain;
    if (gzip) gzip_ = std::make_unique<Gzip>();
    const std::string head = std::move(head_);
    Decode(reinterpret_cast<const std::uint8_t*>(head.data()), head.size());
    return;
  }
  Decode(bytes, count);
}

void ArchiveDecoder::Decode(const std::uint8_t* bytes, std::size_t count) {
  if (format_ == Format::Plain) {
    output_(reinterpret_cast<const char*>(bytes), count);
    return;
  }
  z_stream& stream = gzip_->stream;
  stream.next_in = const_cast<Bytef*>(bytes);
  stream.avail_in = static_cast<uInt>(count);
  while (stream.avail_in > 0 && !gzip_->ended) {
    stream.next_out = reinterpret_cast<Bytef*>(gzip_->output.data());
    stream.avail_out = static_cast<uInt>(gzip_->output.size());
    const int result = inflate(&stream, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) Malformed();
    output_(gzip_->output.data(), gzip_->output.size() - stream.avail_out);
    if (result == Z_STREAM_END) {
      // Another member may follow, as gzip writes them for files joined together; anything
      // else after the end is ignored, as gzip itself does.
      const bool another =
          stream.avail_in >= 2 && stream.next_in[0] == 0x1f && stream.next_in[1] == 0x8b;
      if (!another) gzip_->ended = true;
      if (another && inflateReset(&stream) != Z_OK) Malformed();
    }
  }
}

void ArchiveDecoder::Finish() {
  if (format_ == Format::Unknown) {
    const std::string head = std::move(head_);
    format_ = Format::Plain;
    Decode(reinterpret_cast<const std::uint8_t*>(head.data()), head.size());
  }
  if (format_ == Format::Gzip && !gzip_->ended) Malformed();
}

}  // namespace launcher
