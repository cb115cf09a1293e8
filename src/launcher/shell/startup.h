#pragma once
// The launcher's run from its command line to its exit code, shared by both entry points.

#include <string>
#include <vector>

namespace launcher {

// `arguments` as CommandLineToArgvW gives them, the program at index 0. Returns the exit code.
int RunLauncher(const std::vector<std::wstring>& arguments);

}  // namespace launcher
