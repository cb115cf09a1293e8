#include "launcher/feed/file_list.h"

#include <algorithm>
#include <limits>
#include <string_view>

#include "launcher/feed/numbers.h"
#include "launcher/text/failure.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

[[noreturn]] void Malformed() {
  throw Failure{L"The release's file list isn't one"};
}

Listed ParseLine(std::string_view line) {
  const size_t first = line.find('\t');
  if (first == std::string_view::npos) Malformed();
  const size_t second = line.find('\t', first + 1);
  if (second == std::string_view::npos) Malformed();

  Listed listed;
  listed.path = Widen(line.substr(second + 1));
  listed.sha256 = Lowercase(Widen(line.substr(0, first)));
  const auto size = ReadUnsigned(line.substr(first + 1, second - first - 1),
                                 std::numeric_limits<std::uint64_t>::max(), Minus::Refused);
  if (!size) Malformed();
  listed.size = *size;
  if (listed.sha256.size() != 64 ||
      listed.sha256.find_first_not_of(L"0123456789abcdef") != std::wstring::npos) {
    Malformed();
  }
  // Valid exactly when it can be placed inside some folder.
  if (SafeJoin(L"x", listed.path).empty()) Malformed();
  return listed;
}

// Paths as Windows tells them apart: ASCII letter case ignored. "/" sorts below every other
// character, so every path below a folder comes right after a file of the folder's name.
wchar_t Folded(wchar_t c) {
  if (c == L'/') return 0;  // a path never holds a NUL
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool FoldedLess(const std::wstring& a, const std::wstring& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](wchar_t x, wchar_t y) { return Folded(x) < Folded(y); });
}

bool FoldedEqual(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](wchar_t x, wchar_t y) { return Folded(x) == Folded(y); });
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
    const std::wstring& before = entries[order[i - 1]].path;
    const std::wstring& after = entries[order[i]].path;
    if (FoldedEqual(before, after)) return true;
    if (after.size() > before.size() && after[before.size()] == L'/' &&
        FoldedEqual(before, std::wstring_view(after).substr(0, before.size()))) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<Listed> ParseFileList(const std::string& text) {
  std::vector<Listed> entries;
  const std::string_view all(text);
  size_t at = all.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  while (at < all.size()) {
    const size_t end = std::min(all.find('\n', at), all.size());
    std::string_view line = all.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    entries.push_back(ParseLine(line));
  }
  if (NamesOnePlaceTwice(entries)) Malformed();
  return entries;
}

std::string FormatFileList(const std::vector<Listed>& entries) {
  std::string text;
  for (const Listed& entry : entries) {
    text +=
        Narrow(entry.sha256) + '\t' + std::to_string(entry.size) + '\t' + Narrow(entry.path) + '\n';
  }
  return text;
}

}  // namespace launcher
