#include "launcher/shell/check_mode.h"

#include <exception>
#include <fstream>

#include "launcher/text/failure.h"
#include "launcher/text/text.h"
#include "launcher/update/prepare.h"

namespace launcher {

int RunCheck(const std::wstring& checkFile, const std::wstring& feedUrl, const ClientStore& store,
             bool launcherUpdateAllowed, const std::filesystem::path& temporaryDirectory) {
  try {
    const Ready ready = Prepare(
        feedUrl, store, [](const Progress&) {}, launcherUpdateAllowed, temporaryDirectory);
    WriteCheckResult(checkFile,
                     (ready.isInstaller ? L"launcher\t" : L"ok\t") + WideFromPath(ready.path));
    return 0;
  } catch (const Failure& failure) {
    WriteCheckResult(checkFile, L"error\t" + failure.message);
  } catch (const std::exception&) {
    WriteCheckResult(checkFile, std::wstring(L"error\t") + kSomethingWentWrong);
  }
  return 1;
}

void WriteCheckResult(const std::wstring& checkFile, const std::wstring& line) {
  std::ofstream out(PathFromWide(checkFile), std::ios::binary | std::ios::trunc);
  out << Narrow(line);
}

}  // namespace launcher
