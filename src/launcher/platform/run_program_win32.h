#pragma once
// Running one of Windows' own programs (tar.exe) to its end: no window, no shell, no time limit.
// Windows only; the Linux counterpart is run_program_posix.h.

#include <optional>
#include <string>

#include "launcher/platform/windows.h"

namespace launcher {

// The system folder, as GetSystemDirectoryW gives it into 260 characters (empty if it won't fit).
std::wstring SystemFolder();

// Starts `commandLine` (its first quoted word names the program) with CREATE_NO_WINDOW, the
// launcher's environment and folder, and waits for it. Its exit code, 1 when that can't be read;
// nothing when it couldn't be started.
std::optional<DWORD> RunToEnd(std::wstring commandLine);

}  // namespace launcher
