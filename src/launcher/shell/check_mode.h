#pragma once
// Check mode ("--check FILE"): the real update without a window, starting nothing, its outcome
// written as one UTF-8 line for whatever ran the launcher.

#include <filesystem>
#include <string>

#include "launcher/store/client_store.h"
#include "launcher/update/prepare.h"

namespace launcher {

// Runs Prepare and writes "ok\t" or "launcher\t" and the path it names (exit code 0), or
// "error\t" and the message (exit code 1); and with a `summaryFile`, the run's summary there.
int RunCheck(const std::wstring& checkFile, const std::wstring& feedUrl, const ClientStore& store,
             bool launcherUpdateAllowed, const std::filesystem::path& temporaryDirectory,
             bool repair, const std::wstring& summaryFile = {});

// One JSON object: the check line's outcome ("ok", "launcher" or "error") and its text, the
// summary's versions, how, bytes fetched and kept, the seconds the run took, how many files came
// each way and each listed file's way ("files": [{"path": ..., "came": ...}, ...]).
std::string SummaryJson(const std::wstring& checkLine, const UpdateSummary& summary,
                        double seconds);

// Replaces the file with one holding the line in UTF-8, without a line end, through a temporary
// file and a rename, so it is whole whenever it is there. A file that can't be written isn't
// reported.
void WriteCheckResult(const std::wstring& checkFile, const std::wstring& line);

// Removes an earlier run's check file (or summary), so a run that dies leaves none rather than a
// stale one.
void RemoveCheckResult(const std::wstring& checkFile);

}  // namespace launcher
