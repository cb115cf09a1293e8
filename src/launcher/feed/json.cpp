#include "launcher/feed/json.h"

#include <cstdint>
#include <string_view>

#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

[[noreturn]] void Malformed() {
  throw Failure{L"The update server answered with something that isn't a release."};
}

bool IsSpace(char byte) {
  return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

int HexDigit(char byte) {
  if (byte >= '0' && byte <= '9') return byte - '0';
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  return -1;
}

// The four characters of a \u escape, read the way strtoul reads base 16: leading whitespace, a
// sign, an optional 0x, then digits up to the first non-digit. Four characters with no digit at
// all are malformed.
std::uint16_t ReadEscapeUnit(std::string_view four) {
  size_t at = 0;
  while (at < four.size() && IsSpace(four[at])) ++at;
  bool negative = false;
  if (at < four.size() && (four[at] == '+' || four[at] == '-')) negative = four[at++] == '-';
  if (at + 2 < four.size() && four[at] == '0' && (four[at + 1] == 'x' || four[at + 1] == 'X') &&
      HexDigit(four[at + 2]) >= 0) {
    at += 2;
  }
  std::uint32_t value = 0;
  bool anyDigit = false;
  for (; at < four.size() && HexDigit(four[at]) >= 0; ++at) {
    value = value * 16 + static_cast<std::uint32_t>(HexDigit(four[at]));
    anyDigit = true;
  }
  if (!anyDigit) Malformed();
  if (negative) value = 0u - value;
  return static_cast<std::uint16_t>(value & 0xFFFF);
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  JsonObject ReadObject() {
    Expect('{');
    JsonObject object;
    SkipSpace();
    if (Peek('}')) return object;
    for (;;) {
      std::string key = ReadString();
      Expect(':');
      SkipSpace();
      object[std::move(key)] = Peek('"') ? ReadString() : ReadToken();
      SkipSpace();
      if (!Peek(',')) break;
      ++at_;
    }
    Expect('}');
    return object;
  }

 private:
  bool Peek(char byte) const { return at_ < text_.size() && text_[at_] == byte; }

  void SkipSpace() {
    while (at_ < text_.size() && IsSpace(text_[at_])) ++at_;
  }

  void Expect(char byte) {
    SkipSpace();
    if (!Peek(byte)) Malformed();
    ++at_;
  }

  std::string ReadToken() {
    const size_t start = at_;
    while (at_ < text_.size() && text_[at_] != ',' && text_[at_] != '}' && !IsSpace(text_[at_])) {
      ++at_;
    }
    return std::string(text_.substr(start, at_ - start));
  }

  std::string ReadString() {
    Expect('"');
    std::string value;
    while (at_ < text_.size() && text_[at_] != '"') {
      const char byte = text_[at_++];
      if (byte != '\\') {
        value += byte;
        continue;
      }
      if (at_ >= text_.size()) Malformed();
      const char escaped = text_[at_++];
      switch (escaped) {
        case 'b':
          value += '\b';
          break;
        case 'f':
          value += '\f';
          break;
        case 'n':
          value += '\n';
          break;
        case 'r':
          value += '\r';
          break;
        case 't':
          value += '\t';
          break;
        case 'u': {
          if (text_.size() - at_ < 4) Malformed();
          const std::uint16_t unit = ReadEscapeUnit(text_.substr(at_, 4));
          at_ += 4;
          // Each escape stands alone, so a surrogate half becomes U+FFFD.
          value += Narrow(std::wstring(1, static_cast<wchar_t>(unit)));
          break;
        }
        default:
          value += escaped;
          break;
      }
    }
    Expect('"');
    return value;
  }

  std::string_view text_;
  size_t at_ = 0;
};

}  // namespace

JsonObject ParseObject(std::string text) {
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  return Reader(text).ReadObject();
}

std::string JsonString(const std::wstring& text) {
  std::string quoted = "\"";
  for (const char c : Narrow(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      quoted += Narrow(Format(L"\\u{:04x}", static_cast<unsigned>(byte)));
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

}  // namespace launcher
