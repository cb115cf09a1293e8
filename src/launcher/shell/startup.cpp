#include "launcher/shell/startup.h"

#include "launcher/platform/temporary_directory.h"
#include "launcher/shell/check_mode.h"
#include "launcher/shell/command_line.h"
#include "launcher/shell/executable_directory.h"
#include "launcher/shell/instance_lock.h"
#include "launcher/shell/launch_worker.h"
#include "launcher/shell/leftover_installers.h"
#include "launcher/shell/settings.h"
#include "launcher/store/client_store.h"
#include "launcher/text/text.h"
#include "launcher/transfer/transfer_settings.h"
#include "launcher/window/splash_presenter.h"

namespace launcher {
namespace {

int RunWindowMode(AttemptSettings settings, const ClientStore& store) {
  Splash splash;
  splash.status = L"Starting\u2026";
  LaunchAttempts attempts(std::move(settings), store, splash);
  splash.retry = [&attempts] { attempts.Start(); };

  if (!CreateSplash(splash)) {
    // No window, yet the player still gets the game: one attempt on this thread, and a failure
    // reported where the system can still show it.
    attempts.RunHere();
    if (!attempts.Started()) ReportWithoutSplash(TakeSnapshot(splash).status);
    return attempts.Started() ? 0 : 1;
  }
  attempts.Start();
  RunSplash(splash);
  // Closing the window doesn't cancel an attempt: a running one still gets to start the game.
  attempts.Finish();
  return attempts.Started() ? 0 : 1;
}

}  // namespace

int RunLauncher(const std::vector<std::wstring>& arguments) {
  const LaunchOptions options = ParseCommandLine(arguments);
  const std::wstring feedUrl = ResolveFeedUrl(options.feedOverride);
  const ClientStore store(ExecutableDirectory() / "Client");

  // A launcher that has just replaced itself waits for the old one to let go.
  const std::uint32_t wait = options.launcherUpdateAllowed ? 0 : 20000;
  const InstanceLock lock = AcquireInstanceLock(InstanceLockName(WideFromPath(store.root)), wait);
  if (!lock) {
    if (!options.checkFile.empty()) {
      WriteCheckResult(options.checkFile, L"error\tAnother launcher is already updating Quellorn.");
      return 1;
    }
    ShowRunningLauncher();
    return 0;
  }

  // Before any transfer starts: every download of the run keeps to it.
  Transfers().bandwidthLimit = ReadDownloadLimit(ReadSettingsFile(ExecutableDirectory()));
  const std::filesystem::path temporaryDirectory = TemporaryDirectory();
  if (!options.launcherUpdateAllowed) RemoveLeftoverInstallers(temporaryDirectory);
  if (!options.checkFile.empty()) {
    return RunCheck(options.checkFile, feedUrl, store, options.launcherUpdateAllowed,
                    temporaryDirectory);
  }
  return RunWindowMode(
      {feedUrl, temporaryDirectory, options.gameArguments, options.launcherUpdateAllowed}, store);
}

}  // namespace launcher
