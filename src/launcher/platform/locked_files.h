#pragma once
// On Windows another program (an antivirus looking at a new file, a game still closing) may hold
// a file of the store for a moment, and a rename or delete then fails with a sharing violation or
// access denied. Such operations are tried again with growing pauses until a deadline; elsewhere
// a failure is final at once.

#include <chrono>
#include <filesystem>
#include <functional>
#include <system_error>

namespace launcher {

using Deadline = std::chrono::steady_clock::time_point;

// How long the operations of one step of an install may wait for held files in all.
inline constexpr std::chrono::seconds kLockedFilesWait{10};

// Whether an error means that another program holds the file (Windows only; false elsewhere).
bool IsLockedError(const std::error_code& error);

// Runs `operation` until it succeeds, fails for another reason, or `deadline` has passed; true
// when it succeeded. `error` is the last failure's.
bool RetryWhileLocked(const std::function<bool(std::error_code&)>& operation, Deadline deadline,
                      std::error_code& error);

// Removes a file or a folder with everything in it, never following a link inside (RemoveAll),
// waiting for held files until `deadline`. False when something stays.
bool RemoveTree(const std::filesystem::path& path, Deadline deadline);

}  // namespace launcher
