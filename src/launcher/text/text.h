#pragma once
// Text conversions shared by the whole launcher. Wide strings are UTF-16 on Windows and UTF-32 on
// Linux; the bytes we exchange with files and servers are UTF-8. None of these functions throw for
// bad input: anything invalid becomes U+FFFD.

#include <filesystem>
#include <string>
#include <string_view>

namespace launcher {

// UTF-8 to the platform's wide form; invalid input becomes U+FFFD.
std::wstring Widen(std::string_view utf8);

// The platform's wide form to UTF-8; lone surrogates (and, on Linux, values beyond U+10FFFF)
// become U+FFFD.
std::string Narrow(std::wstring_view wide);

// The text as UTF-16 code units, whatever the platform's wchar_t: for rules that count UTF-16
// units or bytes.
std::u16string ToUtf16(std::wstring_view text);

// Lowers A to Z and leaves every other code unit unchanged: digests, versions and file names are
// compared this way, never by the locale.
std::wstring Lowercase(std::wstring text);

// A path made from wide text and the wide text of a path. On Linux the path's bytes are UTF-8
// whatever the locale says.
std::filesystem::path PathFromWide(std::wstring_view text);
std::wstring WideFromPath(const std::filesystem::path& path);

}  // namespace launcher
