#include "launcher/store/archive_decoder.h"

#include <zlib.h>
#include <zstd.h>

#include <new>
#include <vector>

#include "launcher/store/zstd_unpack.h"
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

struct ArchiveDecoder::Zstd {
  Zstd() {
    if (stream == nullptr) throw std::bad_alloc();
    ZSTD_DCtx_setParameter(stream, ZSTD_d_windowLogMax, kPackedWindowLog);
  }
  ~Zstd() { ZSTD_freeDStream(stream); }
  Zstd(const Zstd&) = delete;
  Zstd& operator=(const Zstd&) = delete;

  ZSTD_DStream* stream = ZSTD_createDStream();
  bool ended = false;  // the last frame that began has ended
  std::vector<char> output = std::vector<char>(kOutputBlock);
};

ArchiveDecoder::ArchiveDecoder(Output output) : output_(std::move(output)) {}

ArchiveDecoder::~ArchiveDecoder() = default;

void ArchiveDecoder::Take(const std::uint8_t* bytes, std::size_t count) {
  if (format_ == Format::Unknown) {
    head_.append(reinterpret_cast<const char*>(bytes), count);
    if (head_.size() < 4) return;
    StartDecoding();
    return;
  }
  Decode(bytes, count);
}

void ArchiveDecoder::StartDecoding() {
  const auto byte = [this](std::size_t at) { return static_cast<unsigned char>(head_[at]); };
  const bool gzip = head_.size() >= 2 && byte(0) == 0x1f && byte(1) == 0x8b;
  const bool zstd =
      head_.size() >= 4 && byte(0) == 0x28 && byte(1) == 0xb5 && byte(2) == 0x2f && byte(3) == 0xfd;
  format_ = gzip ? Format::Gzip : zstd ? Format::Zstd : Format::Plain;
  if (gzip) gzip_ = std::make_unique<Gzip>();
  if (zstd) zstd_ = std::make_unique<Zstd>();
  const std::string head = std::move(head_);
  Decode(reinterpret_cast<const std::uint8_t*>(head.data()), head.size());
}

void ArchiveDecoder::Decode(const std::uint8_t* bytes, std::size_t count) {
  switch (format_) {
    case Format::Gzip:
      DecodeGzip(bytes, count);
      return;
    case Format::Zstd:
      DecodeZstd(bytes, count);
      return;
    case Format::Plain:
    case Format::Unknown:
      output_(reinterpret_cast<const char*>(bytes), count);
      return;
  }
}

void ArchiveDecoder::DecodeGzip(const std::uint8_t* bytes, std::size_t count) {
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

void ArchiveDecoder::DecodeZstd(const std::uint8_t* bytes, std::size_t count) {
  ZSTD_inBuffer input{bytes, count, 0};
  ZSTD_outBuffer out{};
  // Until the input is used up and the output no longer fills: a full output may leave decoded
  // bytes held back inside the decoder.
  do {
    out = ZSTD_outBuffer{zstd_->output.data(), zstd_->output.size(), 0};
    const std::size_t taken = input.pos;
    const std::size_t result = ZSTD_decompressStream(zstd_->stream, &out, &input);
    if (ZSTD_isError(result) != 0) Malformed();
    output_(zstd_->output.data(), out.pos);
    // 0: a frame ended exactly here; the next byte, if any, begins another one. A call that
    // moved nothing says nothing about the frame.
    if (out.pos > 0 || input.pos > taken) zstd_->ended = result == 0;
  } while (input.pos < input.size || out.pos == out.size);
}

void ArchiveDecoder::Finish() {
  if (format_ == Format::Unknown) StartDecoding();
  if (format_ == Format::Gzip && !gzip_->ended) Malformed();
  if (format_ == Format::Zstd && !zstd_->ended) Malformed();
}

}  // namespace launcher
