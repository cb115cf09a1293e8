#include "launcher/shell/check_mode.h"

#include <chrono>
#include <map>
#include <system_error>
#include <vector>

#include "launcher/feed/json_document.h"
#include "launcher/platform/durable_replace.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/log.h"
#include "launcher/text/text.h"
#include "launcher/update/prepare.h"

namespace launcher {

int RunCheck(const std::wstring& checkFile, const std::wstring& feedUrl, const ClientStore& store,
             bool launcherUpdateAllowed, const std::filesystem::path& temporaryDirectory,
             bool repair, const std::wstring& summaryFile) {
  const auto started = std::chrono::steady_clock::now();
  UpdateSummary summary;
  std::wstring line;
  int code = 1;
  try {
    const Ready ready = Prepare(
        feedUrl, store, [](const Progress&) {}, launcherUpdateAllowed, temporaryDirectory,
        BuiltInTrust(), repair, &summary);
    line = (ready.isInstaller ? L"launcher\t" : L"ok\t") + WideFromPath(ready.path);
    code = 0;
  } catch (const Failure& failure) {
    line = L"error\t" + failure.message;
  } catch (...) {
    line = std::wstring(L"error\t") + kSomethingWentWrong;
  }
  WriteCheckResult(checkFile, line);
  if (!summaryFile.empty()) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!ReplaceFileDurably(PathFromWide(summaryFile), PathFromWide(summaryFile + L".tmp"),
                            SummaryJson(line, summary, seconds))) {
      LogLine(L"The summary couldn't be written to " + summaryFile);
    }
  }
  return code;
}

std::string SummaryJson(const std::wstring& checkLine, const UpdateSummary& summary,
                        double seconds) {
  const std::size_t tab = checkLine.find(L'\t');
  std::map<std::string, std::uint64_t> counts;
  std::vector<std::string> files;
  for (const auto& [path, came] : summary.files) {
    ++counts[NameOf(came)];
    files.push_back(
        JsonDocument().Text("path", Widen(path)).Text("came", Widen(NameOf(came))).Close());
  }
  JsonDocument ways;
  for (const auto& [name, count] : counts) ways.Number(name.c_str(), count);
  return JsonDocument()
             .Text("outcome", checkLine.substr(0, tab))
             .Text("message", tab == std::wstring::npos ? L"" : checkLine.substr(tab + 1))
             .Text("from", summary.from)
             .Text("version", summary.version)
             .Text("how", summary.how)
             .Number("bytesFetched", summary.fetched)
             .Number("bytesKept", summary.kept)
             .Raw("seconds", Narrow(Format(L"{:.3f}", seconds)))
             .Raw("ways", ways.Close())
             .Raw("files", JsonDocument::Array(files))
             .Close() +
         "\n";
}

void WriteCheckResult(const std::wstring& checkFile, const std::wstring& line) {
  const std::filesystem::path file = PathFromWide(checkFile);
  LogLine(L"Check line: " + line);
  // Whole or not at all: a reader never sees half a line, nor an earlier run's.
  if (!ReplaceFileDurably(file, PathFromWide(checkFile + L".tmp"), Narrow(line))) {
    LogLine(L"The check line couldn't be written to " + checkFile);
  }
}

void RemoveCheckResult(const std::wstring& checkFile) {
  std::error_code ignored;
  std::filesystem::remove(PathFromWide(checkFile), ignored);
}

}  // namespace launcher
