#include "launcher/feed/file_list.h"

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
                                 std::numeric_limits<std::uint64_t>::max());
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
