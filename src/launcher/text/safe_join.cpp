#include "launcher/text/safe_join.h"

#include <string_view>

#include "launcher/text/text.h"

namespace launcher {

namespace {

bool IsSafePart(std::wstring_view part) {
  if (part.empty() || part == L"." || part == L"..") return false;
  // Windows drops a trailing dot or space: "a." and "a" would be one file.
  if (part.back() == L'.' || part.back() == L' ') return false;
  return !IsDeviceName(part);
}

}  // namespace

// Windows opens these names as devices in every folder, with any extension: a download written
// to "COM1.dat" would go to a serial port. The superscript digits count as digits there too.
bool IsDeviceName(std::wstring_view part) {
  std::wstring base = Lowercase(std::wstring(part.substr(0, part.find(L'.'))));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  if (base == L"con" || base == L"prn" || base == L"aux" || base == L"nul") return true;
  if (base.size() != 4 || (base.compare(0, 3, L"com") != 0 && base.compare(0, 3, L"lpt") != 0)) {
    return false;
  }
  const wchar_t last = base[3];
  return (last >= L'1' && last <= L'9') || last == L'\u00B9' || last == L'\u00B2' ||
         last == L'\u00B3';
}

bool IsSafeName(std::wstring_view name) {
  if (name.empty() || name.find_first_of(L"\\:*?\"<>|") != std::wstring_view::npos) return false;
  // A NUL would end the name early wherever the system reads it, and a line end couldn't be
  // carried by a file list.
  if (name.find_first_of(std::wstring_view(L"\0\r\n", 3)) != std::wstring_view::npos) return false;
  for (std::size_t start = 0;;) {
    const std::size_t slash = name.find(L'/', start);
    if (!IsSafePart(
            name.substr(start, slash == std::wstring_view::npos ? name.npos : slash - start))) {
      return false;
    }
    if (slash == std::wstring_view::npos) return true;
    start = slash + 1;
  }
}

std::filesystem::path SafeJoin(const std::filesystem::path& folder, const std::wstring& name) {
  if (!IsSafeName(name)) return {};
  std::filesystem::path joined = folder;
  const std::wstring_view view(name);
  for (std::size_t start = 0;;) {
    const std::size_t slash = view.find(L'/', start);
    joined /= PathFromWide(
        view.substr(start, slash == std::wstring_view::npos ? view.npos : slash - start));
    if (slash == std::wstring_view::npos) return joined;
    start = slash + 1;
  }
}

}  // namespace launcher
