#include "launcher/text/text.h"

namespace launcher {

std::wstring Lowercase(std::wstring text) {
  for (auto& unit : text) {
    if (unit >= L'A' && unit <= L'Z') unit = static_cast<wchar_t>(unit - L'A' + L'a');
  }
  return text;
}

std::u16string ToUtf16(std::wstring_view text) {
  std::u16string units;
  units.reserve(text.size());
  for (const wchar_t unit : text) {
    const auto code = static_cast<char32_t>(unit);
    if (code > 0xFFFF) {  // only where wchar_t holds whole code points
      units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(code);
    }
  }
  return units;
}

}  // namespace launcher
