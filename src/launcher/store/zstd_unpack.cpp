#include "launcher/store/zstd_unpack.h"

#include <zstd.h>

#include <fstream>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

#include "launcher/platform/file_writer.h"
#include "launcher/transfer/sha256.h"
#include "launcher/transfer/write_failure.h"

namespace launcher {

namespace {

constexpr std::size_t kBlock = 262144;
constexpr wchar_t kCouldNotUnpack[] = L"A downloaded file couldn't be unpacked";

struct FreeContext {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

std::unique_ptr<ZSTD_DCtx, FreeContext> MakeContext(int windowLog) {
  std::unique_ptr<ZSTD_DCtx, FreeContext> context(ZSTD_createDCtx());
  if (!context) throw std::bad_alloc();
  ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, windowLog);
  return context;
}

// Feeds frames through one context and says whether each call left a frame ended; calls `emit`
// with every stretch it decodes, and stops as soon as `emit` says no.
class Frames {
 public:
  explicit Frames(int windowLog) : context_(MakeContext(windowLog)) {}

  void Reference(std::string_view prefix) {
    if (!prefix.empty()) ZSTD_DCtx_refPrefix(context_.get(), prefix.data(), prefix.size());
  }

  // False when the input is damaged or `emit` refused.
  template <typename Emit>
  bool Take(std::string_view input, const Emit& emit) {
    ZSTD_inBuffer in{input.data(), input.size(), 0};
    while (in.pos < in.size || full_) {
      ZSTD_outBuffer out{output_.data(), output_.size(), 0};
      const std::size_t taken = in.pos;
      const std::size_t left = ZSTD_decompressStream(context_.get(), &out, &in);
      if (ZSTD_isError(left)) return false;
      full_ = out.pos == out.size;
      // A call that moved nothing after a frame's end asks for the next frame's header: the
      // frame still ended.
      if (out.pos > 0 || in.pos > taken) ended_ = left == 0;
      if (out.pos > 0 && !emit(output_.data(), out.pos)) return false;
      if (out.pos == 0 && in.pos == in.size) break;
    }
    return true;
  }

  bool Ended() const { return ended_; }

 private:
  std::unique_ptr<ZSTD_DCtx, FreeContext> context_;
  std::vector<char> output_ = std::vector<char>(kBlock);
  bool full_ = false;
  bool ended_ = false;
};

}  // namespace

std::optional<std::vector<std::string>> UnpackFrames(std::string_view packed, std::size_t most) {
  std::vector<std::string> blocks;
  std::size_t total = 0;
  while (!packed.empty()) {
    const std::size_t frame = ZSTD_findFrameCompressedSize(packed.data(), packed.size());
    if (ZSTD_isError(frame)) return std::nullopt;
    const unsigned long long size = ZSTD_getFrameContentSize(packed.data(), frame);
    if (size == ZSTD_CONTENTSIZE_ERROR) return std::nullopt;
    std::optional<std::string> plain;
    if (size == ZSTD_CONTENTSIZE_UNKNOWN) {
      plain = UnpackBytes(packed.substr(0, frame), most - total);
    } else if (size <= most - total) {
      plain = std::string(static_cast<std::size_t>(size), '\0');
      const auto context = MakeContext(kPackedWindowLog);
      const std::size_t made =
          ZSTD_decompressDCtx(context.get(), plain->data(), plain->size(), packed.data(), frame);
      if (ZSTD_isError(made) || made != size) return std::nullopt;
    }
    if (!plain) return std::nullopt;
    total += plain->size();
    blocks.push_back(std::move(*plain));
    packed.remove_prefix(frame);
  }
  if (blocks.empty()) return std::nullopt;
  return blocks;
}

std::optional<std::string> UnpackBytes(std::string_view packed, std::size_t most) {
  Frames frames(kPackedWindowLog);
  std::string plain;
  const bool read = frames.Take(packed, [&](const char* bytes, std::size_t count) {
    if (count > most - plain.size()) return false;
    plain.append(bytes, count);
    return true;
  });
  if (!read || !frames.Ended() || packed.empty()) return std::nullopt;
  return plain;
}

std::optional<Digest> UnpackFile(const std::filesystem::path& packed,
                                 const std::filesystem::path& plain, std::uint64_t size,
                                 std::string_view reference) {
  std::ifstream in(packed, std::ios::binary);
  if (!in) throw Failure{kCouldNotUnpack};
  std::error_code error;
  FileWriter out;
  if (!out.Open(plain, FileWriter::Start::Empty, error)) {
    ThrowWriteFailure(error, size, kCouldNotUnpack);
  }
  Frames frames(reference.empty() ? kPackedWindowLog : kPatchWindowLog);
  frames.Reference(reference);
  Sha256 hasher;
  std::uint64_t written = 0;
  const auto emit = [&](const char* bytes, std::size_t count) {
    if (count > size - written) return false;
    if (!out.Write(bytes, count, error)) ThrowWriteFailure(error, size - written, kCouldNotUnpack);
    hasher.Add(bytes, count);
    written += count;
    return true;
  };
  std::vector<char> block(kBlock);
  bool whole = true;
  while (whole &&
         (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0)) {
    whole =
        frames.Take(std::string_view(block.data(), static_cast<std::size_t>(in.gcount())), emit);
  }
  if (in.bad()) throw Failure{kCouldNotUnpack};
  if (!out.Close(error)) ThrowWriteFailure(error, 0, kCouldNotUnpack);
  if (whole && frames.Ended() && written == size) return Digest{hasher.Finish()};
  std::filesystem::remove(plain, error);
  return std::nullopt;
}

}  // namespace launcher
