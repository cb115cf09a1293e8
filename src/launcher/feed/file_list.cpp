#include "launcher/feed/file_list.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>

#include "launcher/text/failure.h"
#include "launcher/text/numbers.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

[[noreturn]] void Malformed() {
  throw Failure{L"The release's file list isn't one"};
}

std::size_t CharacterCount(std::string_view utf8) {
  return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
  }));
}

Listed ParseLine(std::string_view line) {
  const size_t first = line.find('\t');
  if (first == std::string_view::npos) Malformed();
  const size_t second = line.find('\t', first + 1);
  if (second == std::string_view::npos) Malformed();

  Listed listed;
  const std::string_view bytes = line.substr(second + 1);
  const std::wstring path = Widen(bytes);
  // Bytes that aren't UTF-8 stand for U+FFFD, as everywhere: two such paths are one path.
  const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                 [](char byte) { return static_cast<unsigned char>(byte) < 0x80; });
  listed.path = ascii ? std::string(bytes) : Narrow(path);
  const std::optional<Digest> digest = Digest::FromHex(line.substr(0, first));
  if (!digest) Malformed();
  listed.sha256 = *digest;
  const auto size = ReadUnsigned(line.substr(first + 1, second - first - 1),
                                 std::numeric_limits<std::uint64_t>::max(), Minus::Refused);
  if (!size) Malformed();
  listed.size = *size;
  // Valid exactly when it can be placed inside some folder.
  if (CharacterCount(listed.path) > kLongestListedPath || !IsSafeName(path)) {
    Malformed();
  }
  return listed;
}

// Paths as Windows tells them apart: ASCII letter case ignored. "/" sorts below every other
// character, so every path below a folder comes right after a file of the folder's name.
unsigned Folded(char byte) {
  const auto c = static_cast<unsigned char>(byte);
  if (c == '/') return 0;  // a path never holds a NUL
  return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

bool FoldedLess(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Folded(x) < Folded(y); });
}

bool FoldedEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Folded(x) == Folded(y); });
}

// Two entries for one file (the same path twice, or in another letter case) or a file where
// another entry needs a folder would make two writers of one place on the disk.
bool NamesOnePlaceTwice(const std::vector<Listed>& entries) {
  std::vector<std::uint32_t> order(entries.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return FoldedLess(entries[a].path, entries[b].path);
  });
  for (std::size_t i = 1; i < order.size(); ++i) {
    const std::string& before = entries[order[i - 1]].path;
    const std::string& after = entries[order[i]].path;
    if (FoldedEqual(before, after)) return true;
    if (after.size() > before.size() && after[before.size()] == '/' &&
        FoldedEqual(before, std::string_view(after).substr(0, before.size()))) {
      return true;
    }
  }
  return false;
}

}  // namespace

namespace {

// Parses the lines `forEachLine` hands over, one by one, into room for `lines` entries.
template <typename ForEachLine>
std::vector<Listed> ParseLines(std::size_t lines, std::size_t most, ForEachLine forEachLine) {
  std::vector<Listed> entries;
  // Room for every line at once: a vector that doubles as it grows would hold up to twice that.
  entries.reserve(std::min(lines, most));
  bool first = true;
  forEachLine([&](std::string_view line) {
    if (first && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
    first = false;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return;
    if (entries.size() == most) Malformed();
    entries.push_back(ParseLine(line));
  });
  if (NamesOnePlaceTwice(entries)) Malformed();
  return entries;
}

}  // namespace

std::vector<Listed> ParseFileList(std::string_view all, std::size_t most) {
  const std::size_t lines = static_cast<std::size_t>(std::count(all.begin(), all.end(), '\n')) + 1;
  return ParseLines(lines, most, [&](const auto& onLine) {
    for (std::size_t at = 0; at < all.size();) {
      const std::size_t end = std::min(all.find('\n', at), all.size());
      onLine(all.substr(at, end - at));
      at = end + 1;
    }
  });
}

std::vector<Listed> ParseFileList(std::vector<std::string> blocks, std::size_t most) {
  std::size_t lines = 1;
  for (const std::string& block : blocks) {
    lines += static_cast<std::size_t>(std::count(block.begin(), block.end(), '\n'));
  }
  return ParseLines(lines, most, [&](const auto& onLine) {
    std::string carried;  // the start of a line that goes on in the next block
    for (std::string& block : blocks) {
      std::string_view rest(block);
      for (std::size_t end = rest.find('\n'); end != std::string_view::npos;
           end = rest.find('\n')) {
        if (carried.empty()) {
          onLine(rest.substr(0, end));
        } else {
          carried.append(rest.substr(0, end));
          onLine(std::string_view(carried));
          carried.clear();
        }
        rest.remove_prefix(end + 1);
      }
      carried.append(rest);
      std::string().swap(block);  // read: its memory goes back now
    }
    if (!carried.empty()) onLine(std::string_view(carried));
  });
}

std::string FormatFileList(const std::vector<Listed>& entries) {
  std::string text;
  for (const Listed& entry : entries) {
    text += entry.sha256.Text() + '\t' + std::to_string(entry.size) + '\t' + entry.path + '\n';
  }
  return text;
}

}  // namespace launcher
