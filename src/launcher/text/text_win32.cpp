// Win32 implementation of the text conversions: the system's own UTF-8 codec.

#include "launcher/text/text.h"

#include <climits>
#include <stdexcept>

#include "launcher/platform/windows.h"

namespace launcher {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  if (utf8.size() > INT_MAX) throw std::length_error("text too long to convert");
  const int size = static_cast<int>(utf8.size());
  // No flags: invalid bytes become U+FFFD instead of failing the call.
  const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), needed);
  return wide;
}

std::string Narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  if (wide.size() > INT_MAX) throw std::length_error("text too long to convert");
  const int size = static_cast<int>(wide.size());
  const int needed =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), needed, nullptr, nullptr);
  return utf8;
}

std::filesystem::path PathFromWide(std::wstring_view text) {
  return std::filesystem::path(text);
}

std::wstring WideFromPath(const std::filesystem::path& path) {
  return path.native();
}

}  // namespace launcher
