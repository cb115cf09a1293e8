#include "launcher/feed/chunk_index.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <string_view>

#include "launcher/text/failure.h"

namespace launcher {

namespace {

constexpr std::string_view kHeader = "quellorn chunks 1\n";
// A boundary where the hash's low 20 bits are zero: one chance in a MiB at every byte.
constexpr std::uint64_t kBoundaryMask = (std::uint64_t{1} << 20) - 1;

// One fixed pseudo-random number per byte value (splitmix64 from a fixed seed): the table is part
// of the rule, so it never changes.
constexpr std::array<std::uint64_t, 256> MakeGear() {
  std::array<std::uint64_t, 256> table{};
  std::uint64_t state = 0x5175656c6c6f726eULL;
  for (std::uint64_t& value : table) {
    state += 0x9e3779b97f4a7c15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    value = z ^ (z >> 31);
  }
  return table;
}
constexpr std::array<std::uint64_t, 256> kGear = MakeGear();

[[noreturn]] void Malformed() {
  throw Failure{L"The release's chunk index isn't one"};
}

std::uint64_t ReadSize(std::string_view text) {
  std::uint64_t size = 0;
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, size);
  if (text.empty() || error != std::errc{} || at != end) Malformed();
  return size;
}

}  // namespace

std::size_t ChunkCutter::Scan(const unsigned char* bytes, std::size_t count, bool& cut) {
  // The gear hash: each byte's influence leaves it after 64 shifts, so a boundary depends on the
  // 64 bytes before it only. No chunk ends before the shortest length, so the bytes earlier than
  // its last 64 needn't be hashed at all.
  constexpr std::uint64_t kHashedFrom = kShortestChunk - 64;
  std::size_t at = 0;
  if (length_ < kHashedFrom) {
    at = static_cast<std::size_t>(std::min<std::uint64_t>(kHashedFrom - length_, count));
    length_ += at;
  }
  for (; at < count && length_ + 1 < kShortestChunk; ++at, ++length_)
    hash_ = (hash_ << 1) + kGear[bytes[at]];
  // Every byte from here may end the chunk, up to the longest one.
  const std::size_t from = at;
  const std::size_t limit =
      at + static_cast<std::size_t>(std::min<std::uint64_t>(count - at, kLongestChunk - length_));
  std::uint64_t hash = hash_;
  cut = false;
  while (at < limit && !cut) {
    hash = (hash << 1) + kGear[bytes[at++]];
    cut = (hash & kBoundaryMask) == 0;
  }
  length_ += at - from;
  hash_ = hash;
  if (cut || length_ == kLongestChunk) {
    cut = true;
    hash_ = 0;
    length_ = 0;
  }
  return at;
}

const ChunkedFile* FindChunked(const std::vector<ChunkedFile>& index, const Listed& entry) {
  for (const ChunkedFile& file : index) {
    if (file.path == entry.path) {
      return file.sha256 == entry.sha256 && file.size == entry.size ? &file : nullptr;
    }
  }
  return nullptr;
}

std::string FormatChunkIndex(const std::vector<ChunkedFile>& files) {
  std::string text(kHeader);
  for (const ChunkedFile& file : files) {
    text += file.sha256.Text() + '\t' + std::to_string(file.size) + '\t' + file.path + '\n';
    for (const Chunk& chunk : file.chunks) {
      text += '\t' + chunk.sha256.Text() + '\t' + std::to_string(chunk.size) + '\n';
    }
  }
  return text;
}

std::vector<ChunkedFile> ParseChunkIndex(const std::string& text) {
  if (!text.starts_with(kHeader) || !text.ends_with('\n')) Malformed();
  std::vector<ChunkedFile> files;
  std::string_view rest = std::string_view(text).substr(kHeader.size());
  std::uint64_t offset = 0;
  const auto complete = [&] {
    if (!files.empty() && offset != files.back().size) Malformed();
  };
  while (!rest.empty()) {
    const std::string_view line = rest.substr(0, rest.find('\n'));
    rest.remove_prefix(line.size() + 1);
    const bool chunk = line.starts_with('\t');
    const std::string_view fields = chunk ? line.substr(1) : line;
    if (fields.size() < 66 || fields[64] != '\t') Malformed();
    const std::optional<Digest> digest = Digest::FromHex(fields.substr(0, 64));
    if (!digest) Malformed();
    const std::string_view after = fields.substr(65);
    const std::size_t tab = after.find('\t');
    if (chunk) {
      if (files.empty() || tab != std::string_view::npos) Malformed();
      const std::uint64_t size = ReadSize(after);
      if (size == 0 || size > files.back().size - offset) Malformed();
      files.back().chunks.push_back({*digest, offset, size});
      offset += size;
    } else {
      complete();
      if (tab == std::string_view::npos || tab + 1 == after.size()) Malformed();
      files.push_back(
          {std::string(after.substr(tab + 1)), *digest, ReadSize(after.substr(0, tab)), {}});
      offset = 0;
    }
  }
  complete();
  return files;
}

}  // namespace launcher
