// POSIX implementation of the text conversions: a UTF-8 codec of our own for 32-bit wchar_t, so
// that the result never depends on the process's locale. Invalid input is replaced the way the
// Unicode standard recommends: one U+FFFD for each maximal part of a sequence that could have
// begun a valid character.

#include "launcher/text/text.h"

#include <optional>

namespace launcher {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct LeadByte {
  int continuations;   // bytes that must follow
  unsigned char low;   // allowed range of the first continuation byte; it excludes overlong
  unsigned char high;  // forms, surrogates and values beyond U+10FFFF
};

// Nothing for a byte that can never begin a character.
std::optional<LeadByte> ReadLead(unsigned char byte) {
  if (byte >= 0xC2 && byte <= 0xDF) return LeadByte{1, 0x80, 0xBF};
  if (byte == 0xE0) return LeadByte{2, 0xA0, 0xBF};
  if (byte == 0xED) return LeadByte{2, 0x80, 0x9F};
  if (byte >= 0xE1 && byte <= 0xEF) return LeadByte{2, 0x80, 0xBF};
  if (byte == 0xF0) return LeadByte{3, 0x90, 0xBF};
  if (byte >= 0xF1 && byte <= 0xF3) return LeadByte{3, 0x80, 0xBF};
  if (byte == 0xF4) return LeadByte{3, 0x80, 0x8F};
  return std::nullopt;
}

void AppendUtf8(std::string& out, char32_t c) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::wstring Widen(std::string_view utf8) {
  std::wstring wide;
  wide.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const auto byte = static_cast<unsigned char>(utf8[i++]);
    if (byte < 0x80) {
      wide += static_cast<wchar_t>(byte);
      continue;
    }
    const auto lead = ReadLead(byte);
    if (!lead) {
      wide += static_cast<wchar_t>(kReplacement);
      continue;
    }
    char32_t code = byte & (0x3F >> lead->continuations);
    unsigned char low = lead->low;
    unsigned char high = lead->high;
    int read = 0;
    while (read < lead->continuations && i < utf8.size()) {
      const auto next = static_cast<unsigned char>(utf8[i]);
      if (next < low || next > high) break;
      code = (code << 6) | (next & 0x3F);
      low = 0x80;
      high = 0xBF;
      ++i;
      ++read;
    }
    wide += static_cast<wchar_t>(read == lead->continuations ? code : kReplacement);
  }
  return wide;
}

std::string Narrow(std::wstring_view wide) {
  std::string utf8;
  utf8.reserve(wide.size());
  for (const wchar_t unit : wide) AppendUtf8(utf8, static_cast<char32_t>(unit));
  return utf8;
}

std::filesystem::path PathFromWide(std::wstring_view text) {
  return std::filesystem::path(Narrow(text));
}

std::wstring WideFromPath(const std::filesystem::path& path) {
  return Widen(path.native());
}

}  // namespace launcher
