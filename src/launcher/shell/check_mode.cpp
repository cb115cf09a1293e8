#include "launcher/shell/check_mode.h"

#include <system_error>

#include "launcher/platform/durable_replace.h"
#include "launcher/text/failure.h"
#include "launcher/text/log.h"
#include "launcher/text/text.h"
#include "launcher/update/prepare.h"

namespace launcher {

int RunCheck(const std::wstring& checkFile, const std::wstring& feedUrl, const ClientStore& store,
             bool launcherUpdateAllowed, const std::filesystem::path& temporaryDirectory,
             bool repair) {
  try {
    const Ready ready = Prepare(
        feedUrl, store, [](const Progress&) {}, launcherUpdateAllowed, temporaryDirectory,
        BuiltInTrust(), repair);
    WriteCheckResult(checkFile,
                     (ready.isInstaller ? L"launcher\t" : L"ok\t") + WideFromPath(ready.path));
    return 0;
  } catch (const Failure& failure) {
    WriteCheckResult(checkFile, L"error\t" + failure.message);
  } catch (...) {
    WriteCheckResult(checkFile, std::wstring(L"error\t") + kSomethingWentWrong);
  }
  return 1;
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
