#include "tools/publish/server/zstd_pack.h"

#include <zstd.h>

#include <algorithm>
#include <new>
#include <thread>
#include <vector>

#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/text.h"

namespace launcher::publish {

namespace {

struct ContextFree {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
using OwnedContext = std::unique_ptr<ZSTD_CCtx, ContextFree>;

// A context at the run's level and the window given, on every core when `threads`.
OwnedContext MakeContext(bool threads, int windowLog = kPackedWindowLog) {
  OwnedContext context(ZSTD_createCCtx());
  if (!context) throw std::bad_alloc();
  ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, PackingLevel());
  ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, windowLog);
  // Long matches only pay within a long window.
  ZSTD_CCtx_setParameter(context.get(), ZSTD_c_enableLongDistanceMatching,
                         windowLog > kArchiveWindowLog ? 1 : 0);
  ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, 0);  // digests check it all
  if (threads) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    ZSTD_CCtx_setParameter(context.get(), ZSTD_c_nbWorkers, static_cast<int>(cores));
  }
  return context;
}

}  // namespace

int& PackingLevel() {
  static int level = kDefaultLevel;
  return level;
}

struct ZstdPacker::Context {
  OwnedContext context = MakeContext(true, kArchiveWindowLog);
  std::vector<char> output = std::vector<char>(ZSTD_CStreamOutSize());
};

ZstdPacker::ZstdPacker(const std::filesystem::path& file, std::optional<std::uint64_t> pledged)
    : context_(std::make_unique<Context>()), out_(file, std::ios::binary | std::ios::trunc) {
  if (!out_) throw Failure{Format(L"{} couldn't be written", WideFromPath(file))};
  if (pledged) ZSTD_CCtx_setPledgedSrcSize(context_->context.get(), *pledged);
}

ZstdPacker::~ZstdPacker() = default;

void ZstdPacker::Write(const void* bytes, std::size_t count) {
  ZSTD_inBuffer in{bytes, count, 0};
  const ZSTD_EndDirective directive = bytes == nullptr ? ZSTD_e_end : ZSTD_e_continue;
  for (;;) {
    ZSTD_outBuffer out{context_->output.data(), context_->output.size(), 0};
    const std::size_t left = ZSTD_compressStream2(context_->context.get(), &out, &in, directive);
    if (ZSTD_isError(left)) throw Failure{Widen(ZSTD_getErrorName(left))};
    out_.write(context_->output.data(), static_cast<std::streamsize>(out.pos));
    written_ += out.pos;
    const bool done = directive == ZSTD_e_end ? left == 0 : in.pos == in.size;
    if (done) return;
  }
}

void ZstdPacker::Add(const char* bytes, std::size_t count) {
  if (count > 0) Write(bytes, count);
}

std::uint64_t ZstdPacker::Finish() {
  Write(nullptr, 0);
  out_.close();
  if (!out_) throw Failure{L"The packed file couldn't be written"};
  return written_;
}

std::uint64_t PackFile(const std::filesystem::path& plain, const std::filesystem::path& packed) {
  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(plain, error);
  std::ifstream in(plain, std::ios::binary);
  if (error || !in) throw Failure{Format(L"{} couldn't be read", WideFromPath(plain))};
  ZstdPacker packer(packed, size);
  std::vector<char> block(1 << 20);
  while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
    packer.Add(block.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) throw Failure{Format(L"{} couldn't be read", WideFromPath(plain))};
  return packer.Finish();
}

std::string PackBytes(std::string_view bytes, std::string_view reference) {
  // A patch's matches reach back through the content and the whole reference before it.
  int windowLog = kPackedWindowLog;
  if (!reference.empty()) {
    windowLog = 10;
    while (windowLog < kPatchWindowLog &&
           (std::uint64_t{1} << windowLog) < reference.size() + bytes.size()) {
      ++windowLog;
    }
  }
  const OwnedContext context = MakeContext(bytes.size() >= kThreadedFrom, windowLog);
  if (!reference.empty()) {
    const std::size_t referred =
        ZSTD_CCtx_refPrefix(context.get(), reference.data(), reference.size());
    if (ZSTD_isError(referred)) throw Failure{Widen(ZSTD_getErrorName(referred))};
  }
  std::string packed(ZSTD_compressBound(bytes.size()), '\0');
  const std::size_t size =
      ZSTD_compress2(context.get(), packed.data(), packed.size(), bytes.data(), bytes.size());
  if (ZSTD_isError(size)) throw Failure{Widen(ZSTD_getErrorName(size))};
  packed.resize(size);
  return packed;
}

std::string PackInFrames(std::string_view bytes, std::size_t frameSize) {
  std::string packed;
  do {
    const std::string_view frame = bytes.substr(0, frameSize);
    packed += PackBytes(frame);
    bytes.remove_prefix(frame.size());
  } while (!bytes.empty());
  return packed;
}

}  // namespace launcher::publish
