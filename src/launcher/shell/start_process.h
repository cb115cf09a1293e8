#pragma once
// Starting the one program a run ends with: the game, or a new launcher's installer. The launcher
// never waits for it, reads its exit code or hands it anything.

#include <string>

namespace launcher {

// `executable` is a full path; `arguments` is empty or begins with a space (already quoted).
// The program runs in its own folder with the launcher's environment, and inherits nothing but
// standard input, output and error. False when it couldn't be started.
bool StartProcess(const std::wstring& executable, const std::wstring& arguments);

}  // namespace launcher
