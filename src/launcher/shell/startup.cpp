#include "launcher/shell/startup.h"

#include "launcher/shell/check_mode.h"
#include "launcher/shell/command_line.h"
#include "launcher/shell/executable_directory.h"
#include "launcher/shell/instance_lock.h"
#include "launcher/shell/leftover_installers.h"
#include "launcher/shell/settings.h"
#include "launcher/shell/temporary_directory.h"
#include "launcher/store/client_store.h"
#include "launcher/text/text.h"

namespace launcher {

int RunLauncher(const std::vector<std::wstring>& arguments) {
  const LaunchOptions options = ParseCommandLine(arguments);
  const std::wstring feedUrl = ResolveFeedUrl(options.feedOverride);
  const ClientStore store(ExecutableDirectory() / "Client");

  // A launcher that has just replaced itself waits for the old one to let go.
  const std::uint32_t wait = options.launcherUpdateAllowed ? 0 : 20000;
  if (!AcquireInstanceLock(InstanceLockName(WideFromPath(store.root)), wait)) {
    if (!options.checkFile.empty()) {
      WriteCheckResult(options.checkFile, L"error\tAnother launcher is already updating Quellorn.");
      return 1;
    }
    ShowRunningLauncher();
    return 0;
  }

  const std::wstring temporaryDirectory = TemporaryDirectory();
  if (!options.launcherUpdateAllowed) RemoveLeftoverInstallers(PathFromWide(temporaryDirectory));
  if (!options.checkFile.empty()) {
    return RunCheck(options.checkFile, feedUrl, store, options.launcherUpdateAllowed,
                    PathFromWide(temporaryDirectory));
  }
  // Window mode (the splash window, the launch worker and starting the game) is not built yet:
  // such a run starts nothing, which exit code 1 says.
  return 1;
}

}  // namespace launcher
