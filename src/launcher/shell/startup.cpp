#include "launcher/shell/startup.h"

#include <thread>

#include "launcher/shell/check_mode.h"
#include "launcher/shell/command_line.h"
#include "launcher/shell/executable_directory.h"
#include "launcher/shell/instance_lock.h"
#include "launcher/shell/launch_worker.h"
#include "launcher/shell/leftover_installers.h"
#include "launcher/shell/settings.h"
#include "launcher/shell/temporary_directory.h"
#include "launcher/store/client_store.h"
#include "launcher/text/text.h"
#include "launcher/window/splash_presenter.h"

namespace launcher {
namespace {

int RunWindowMode(const std::wstring& feedUrl, const ClientStore& store,
                  const LaunchOptions& options, const std::wstring& temporaryDirectory) {
  Splash splash;
  splash.status = L"Starting\u2026";
  bool launcherUpdateAllowed = options.launcherUpdateAllowed;
  bool started = false;
  std::thread worker;
  const StartAttempt startAttempt{worker,
                                  {feedUrl, store, splash, launcherUpdateAllowed,
                                   temporaryDirectory, started, options.gameArguments}};
  splash.retry = startAttempt;

  if (!CreateSplash(splash)) {
    // No window, yet the player still gets the game: one attempt on this thread, and a failure
    // reported where the system can still show it.
    RunAttempt(startAttempt.values);
    if (!started) ReportWithoutSplash(TakeSnapshot(splash).status);
    return started ? 0 : 1;
  }
  startAttempt();
  RunSplash(splash);
  // Closing the window doesn't cancel an attempt: a running one still gets to start the game.
  if (worker.joinable()) worker.join();
  return started ? 0 : 1;
}

}  // namespace

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
  return RunWindowMode(feedUrl, store, options, temporaryDirectory);
}

}  // namespace launcher
