#include "support/tar_writer.h"

#include <zlib.h>
#include <zstd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace launcher::support {

namespace {

// A frame whose content size was never known, written by a stream fed first and ended after:
// the compressor then keeps the window it was given.
std::size_t StreamWithoutSize(ZSTD_CCtx* context, const std::string& bytes, std::string& packed) {
  ZSTD_inBuffer in{bytes.data(), bytes.size(), 0};
  ZSTD_outBuffer out{packed.data(), packed.size(), 0};
  while (in.pos < in.size) {
    const std::size_t result = ZSTD_compressStream2(context, &out, &in, ZSTD_e_continue);
    if (ZSTD_isError(result) != 0) return result;
  }
  for (;;) {
    const std::size_t left = ZSTD_compressStream2(context, &out, &in, ZSTD_e_end);
    if (ZSTD_isError(left) != 0) return left;
    if (left == 0) return out.pos;
  }
}

// Zero-padded to width - 1 digits and a NUL; a value too wide for its field is the test's own
// mistake, so it fails loudly rather than writing a header tar would misread.
void Octal(char* field, size_t width, unsigned long long value) {
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value, 8);
  const auto length = static_cast<size_t>(end - digits);
  if (error != std::errc{} || length > width - 1) throw std::length_error("tar field too narrow");
  std::memset(field, '0', width - 1 - length);
  std::memcpy(field + (width - 1 - length), digits, length);
  field[width - 1] = '\0';
}

// Files, and the long names and pax headers that come before one.
bool HasContent(const TarEntry& entry) {
  return entry.type == '0' || entry.type == 'L' || entry.type == 'x';
}

std::string Header(const TarEntry& entry) {
  char block[512] = {};
  std::strncpy(block, entry.name.c_str(), 100);
  Octal(block + 100, 8, entry.mode != 0 ? entry.mode : entry.type == '5' ? 0755 : 0644);
  Octal(block + 108, 8, 0);
  Octal(block + 116, 8, 0);
  Octal(block + 124, 12, HasContent(entry) ? entry.content.size() : 0);
  Octal(block + 136, 12, 1700000000);
  block[156] = entry.type;
  std::strncpy(block + 157, entry.linkTarget.c_str(), 100);
  std::memcpy(block + 257, "ustar", 6);
  std::memcpy(block + 263, "00", 2);
  std::memset(block + 148, ' ', 8);  // the checksum counts its own field as spaces
  unsigned sum = 0;
  for (const char byte : block) sum += static_cast<unsigned char>(byte);
  std::snprintf(block + 148, 8, "%06o", sum);
  block[155] = ' ';
  return std::string(block, sizeof block);
}

}  // namespace

std::string MakeTar(const std::vector<TarEntry>& entries) {
  std::string archive;
  for (const TarEntry& entry : entries) {
    archive += Header(entry);
    if (HasContent(entry)) {
      archive += entry.content;
      archive.append((512 - entry.content.size() % 512) % 512, '\0');
    }
  }
  archive.append(1024, '\0');
  return archive;
}

std::string Gzip(const std::string& bytes) {
  z_stream stream{};
  // 15 + 16: the largest window, inside a gzip header and trailer.
  if (deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("no deflate");
  }
  std::string packed(deflateBound(&stream, bytes.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(packed.data());
  stream.avail_out = static_cast<uInt>(packed.size());
  const int result = deflate(&stream, Z_FINISH);
  packed.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate");
  return packed;
}

std::string Zstd(const std::string& bytes, int windowLog) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  if (windowLog != 0) {
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
    // Without a size in the frame, the window written is the one asked for.
    ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 0);
  }
  std::string packed(ZSTD_compressBound(bytes.size()), '\0');
  const std::size_t size = windowLog == 0 ? ZSTD_compress2(context, packed.data(), packed.size(),
                                                           bytes.data(), bytes.size())
                                          : StreamWithoutSize(context, bytes, packed);
  ZSTD_freeCCtx(context);
  if (ZSTD_isError(size) != 0) throw std::runtime_error("no zstd");
  packed.resize(size);
  return packed;
}

}  // namespace launcher::support
