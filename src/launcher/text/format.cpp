#include "launcher/text/format.h"

#include <cinttypes>
#include <cstdio>
#include <stdexcept>

namespace launcher {

namespace {

// What stands between "{:" and "}": [0][width][.precision][type].
struct Specifier {
  bool zeroPad = false;
  int width = -1;
  int precision = -1;
  char type = '\0';
};

int ReadNumber(std::wstring_view text, size_t& at) {
  int number = 0;
  while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
    number = number * 10 + (text[at++] - L'0');
    if (number > 99) throw std::logic_error("format width out of range");
  }
  return number;
}

Specifier ParseSpecifier(std::wstring_view text) {
  Specifier specifier;
  size_t at = 0;
  if (at < text.size() && text[at] == L'0') {
    specifier.zeroPad = true;
    ++at;
  }
  if (at < text.size() && text[at] >= L'1' && text[at] <= L'9')
    specifier.width = ReadNumber(text, at);
  if (at < text.size() && text[at] == L'.') {
    ++at;
    specifier.precision = ReadNumber(text, at);
  }
  if (at < text.size()) specifier.type = static_cast<char>(text[at++]);
  if (at != text.size() || (specifier.type != '\0' && specifier.type != 'x' &&
                            specifier.type != 'd' && specifier.type != 'f')) {
    throw std::logic_error("unsupported format specifier");
  }
  return specifier;
}

std::string PrintfPattern(const Specifier& specifier, const char* conversion) {
  std::string pattern = "%";
  if (specifier.zeroPad) pattern += '0';
  if (specifier.width >= 0) pattern += std::to_string(specifier.width);
  if (specifier.precision >= 0) pattern += '.' + std::to_string(specifier.precision);
  return pattern + conversion;
}

void AppendNumber(std::wstring& out, const Specifier& specifier,
                  const FormatArgument::Value& value) {
  char buffer[128];
  int length = 0;
  if (const auto* real = std::get_if<double>(&value)) {
    if (specifier.type != 'f' && specifier.type != '\0')
      throw std::logic_error("integer format for a real");
    const auto pattern = PrintfPattern(specifier, specifier.type == 'f' ? "f" : "g");
    length = std::snprintf(buffer, sizeof buffer, pattern.c_str(), *real);
  } else if (specifier.type == 'f' || specifier.precision >= 0) {
    throw std::logic_error("real format for an integer");
  } else if (const auto* whole = std::get_if<std::uint64_t>(&value)) {
    const auto pattern = PrintfPattern(specifier, specifier.type == 'x' ? PRIx64 : PRIu64);
    length = std::snprintf(buffer, sizeof buffer, pattern.c_str(), *whole);
  } else {
    const auto signedValue = std::get<std::int64_t>(value);
    if (specifier.type == 'x') {
      const auto pattern = PrintfPattern(specifier, PRIx64);
      length = std::snprintf(buffer, sizeof buffer, pattern.c_str(),
                             static_cast<std::uint64_t>(signedValue));
    } else {
      const auto pattern = PrintfPattern(specifier, PRId64);
      length = std::snprintf(buffer, sizeof buffer, pattern.c_str(), signedValue);
    }
  }
  if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) {
    throw std::logic_error("number does not fit its format");
  }
  out.append(buffer, buffer + length);  // printf's output here is ASCII only
}

}  // namespace

std::wstring FormatList(std::wstring_view pattern,
                        std::initializer_list<FormatArgument> arguments) {
  std::wstring out;
  auto next = arguments.begin();
  size_t at = 0;
  while (at < pattern.size()) {
    const size_t open = pattern.find(L'{', at);
    if (open == std::wstring_view::npos) {
      out.append(pattern.substr(at));
      break;
    }
    out.append(pattern.substr(at, open - at));
    const size_t close = pattern.find(L'}', open);
    if (close == std::wstring_view::npos) throw std::logic_error("unclosed format placeholder");
    auto inside = pattern.substr(open + 1, close - open - 1);
    if (!inside.empty()) {
      if (inside.front() != L':') throw std::logic_error("unsupported format placeholder");
      inside.remove_prefix(1);
    }
    if (next == arguments.end()) throw std::logic_error("too few format arguments");
    const Specifier specifier = ParseSpecifier(inside);
    if (const auto* text = std::get_if<std::wstring_view>(&next->value())) {
      if (!inside.empty()) throw std::logic_error("format specifier for text");
      out.append(*text);
    } else {
      AppendNumber(out, specifier, next->value());
    }
    ++next;
    at = close + 1;
  }
  if (next != arguments.end()) throw std::logic_error("too many format arguments");
  return out;
}

}  // namespace launcher
