#pragma once
// The launcher's log for support: every run appends what it decided and did, with timings and
// the full detail of every failure, to Client/launcher.log. Kept under 1 MiB: when it has grown
// past that, the older half is dropped as the run begins. Lines may come from any thread; a log
// that can't be written is simply not written.

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace launcher {

inline constexpr std::uintmax_t kLogLimit = 1048576;

// Starts writing to `file` (appending), first cutting it to its newer half when it is larger
// than kLogLimit.
void OpenLog(const std::filesystem::path& file);

// One line, with the time (UTC) in front. Nothing when no log is open.
void LogLine(std::wstring_view text);

// Stops writing; the file is complete on the disk.
void CloseLog();

}  // namespace launcher
