#include "launcher/transfer/block_list.h"

#include <charconv>
#include <optional>
#include <string_view>

#include "launcher/text/failure.h"

namespace launcher {

namespace {

constexpr std::string_view kHeader = "quellorn blocks 1 ";

[[noreturn]] void Malformed() {
  throw Failure{L"The release's block list isn't one"};
}

}  // namespace

std::string FormatBlockList(const BlockList& list) {
  std::string text(kHeader);
  text += std::to_string(list.blockSize) + '\n';
  text.reserve(text.size() + list.blocks.size() * 65);
  for (const Digest& block : list.blocks) {
    text += block.Text();
    text += '\n';
  }
  return text;
}

BlockList ParseBlockList(const std::string& text, std::uint64_t archiveSize) {
  if (!text.starts_with(kHeader) || !text.ends_with('\n')) Malformed();
  std::string_view rest = std::string_view(text).substr(kHeader.size());
  const std::size_t lineEnd = rest.find('\n');
  BlockList list;
  const char* end = rest.data() + lineEnd;
  const auto [at, error] = std::from_chars(rest.data(), end, list.blockSize);
  if (error != std::errc{} || at != end || list.blockSize < 4096 ||
      list.blockSize > (std::uint64_t{64} << 20)) {
    Malformed();
  }
  rest.remove_prefix(lineEnd + 1);
  const std::uint64_t count = (archiveSize + list.blockSize - 1) / list.blockSize;
  if (rest.size() != count * 65) Malformed();
  list.blocks.reserve(static_cast<std::size_t>(count));
  for (; !rest.empty(); rest.remove_prefix(65)) {
    const std::optional<Digest> digest = Digest::FromHex(rest.substr(0, 64));
    if (!digest || rest[64] != '\n') Malformed();
    list.blocks.push_back(*digest);
  }
  return list;
}

}  // namespace launcher
