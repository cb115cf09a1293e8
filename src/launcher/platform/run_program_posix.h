#pragma once
// Running one of the system's programs (tar, gzip) to its end: found on the PATH, started with
// an argument vector and no shell, waited for without a time limit. Linux only; the Windows
// counterpart is run_program_win32.h.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace launcher {

// `words` is the argument vector, the program's name first. Standard output goes to `output`
// (created or truncated) when one is given. Its exit code, -1 when it didn't exit normally;
// nothing when it couldn't be started.
std::optional<int> RunToEnd(std::vector<std::string> words,
                            const std::filesystem::path& output = {});

}  // namespace launcher
