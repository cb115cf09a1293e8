#pragma once
// Running one of the system's programs (tar, gzip) to its end: an argument vector that reaches the
// program word for word, no shell, no console window, and a wait without a time limit.

#include <filesystem>
#include <optional>
#include <vector>

namespace launcher {

// An argument in the system's own text: UTF-8 bytes on Linux, UTF-16 on Windows, as a path
// holds it.
using ProgramWord = std::filesystem::path::string_type;

// `program` is a full path, or on Linux a bare name looked up on the PATH. Returns its exit code
// (-1 when it didn't exit normally), or nothing when it couldn't be started.
std::optional<int> RunToEnd(const std::filesystem::path& program,
                            const std::vector<ProgramWord>& arguments);

}  // namespace launcher
