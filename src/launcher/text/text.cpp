#include "launcher/text/text.h"

namespace launcher {

std::wstring Lowercase(std::wstring text) {
  for (auto& unit : text) {
    if (unit >= L'A' && unit <= L'Z') unit = static_cast<wchar_t>(unit - L'A' + L'a');
  }
  return text;
}

}  // namespace launcher
