#pragma once
// The rule that turns a release-relative name ("/" between parts) into a path inside a folder, or
// refuses it. Whatever a feed or file list says, nothing it names can land outside the folder or
// on a Windows device. Pure logic; the same on both builds.

#include <filesystem>
#include <string>
#include <string_view>

namespace launcher {

// An empty path when the name is refused: empty; holding \ : * ? " < > |, a NUL character or a
// line end (CR, LF); an empty, "." or ".." part; a part ending in a dot or a space; a part naming
// a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, in any case, alone or before a dot).
std::filesystem::path SafeJoin(const std::filesystem::path& folder, const std::wstring& name);

// Whether SafeJoin takes the name; touches nothing.
bool IsSafeName(std::wstring_view name);

// Whether Windows opens a file of this name (one part, no "/") as a device in every folder:
// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 in any case, alone or before a dot.
bool IsDeviceName(std::wstring_view part);

}  // namespace launcher
