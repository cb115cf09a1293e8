#include "launcher/shell/startup.h"

#include <chrono>
#include <system_error>
#include <utility>

#include "launcher/platform/temporary_directory.h"
#include "launcher/shell/check_mode.h"
#include "launcher/shell/command_line.h"
#include "launcher/shell/executable_directory.h"
#include "launcher/shell/instance_lock.h"
#include "launcher/shell/launch_worker.h"
#include "launcher/shell/leftover_installers.h"
#include "launcher/shell/settings.h"
#include "launcher/store/client_store.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/log.h"
#include "launcher/text/product.h"
#include "launcher/text/text.h"
#include "launcher/transfer/transfer_settings.h"
#include "launcher/update/trusted_feed.h"
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

int Run(const LaunchOptions& options) {
  const std::wstring feedUrl = ResolveFeedUrl(options.feedOverride);
  const std::filesystem::path installation = ExecutableDirectory();
  const ClientStore store(installation / "Client");

  // A launcher that has just replaced itself waits for the old one to let go.
  const std::uint32_t wait = options.launcherUpdateAllowed ? 0 : 20000;
  const InstanceLock lock = AcquireInstanceLock(store.root, wait);
  if (!lock) {
    if (!options.checkFile.empty()) {
      WriteCheckResult(options.checkFile, L"error\tAnother launcher is already updating Quellorn.");
      return 1;
    }
    ShowRunningLauncher();
    return 0;
  }

  std::error_code ignored;
  std::filesystem::create_directories(store.root, ignored);
  OpenLog(store.root / "launcher.log");
  LogLine(Format(L"Launcher {} started in {} mode; feed {}", kOwnVersion,
                 options.checkFile.empty() ? L"window" : L"check", feedUrl));
  // Before any transfer starts: every download of the run keeps to it.
  ReadTransferLimits(ReadSettingsFile(installation), Transfers());
  if (Transfers().bandwidthLimit > 0) {
    LogLine(Format(L"Downloads keep to {} bytes a second", Transfers().bandwidthLimit));
  }
  LogLine(Format(L"A download slower than {} bytes a second for {} s counts as stalled",
                 Transfers().slowestRate,
                 std::chrono::duration_cast<std::chrono::seconds>(Transfers().slowWindow).count()));
  if (const FeedTrust trust = BuiltInTrust(); !trust.root && trust.keys.empty()) {
    LogLine(
        L"This launcher believes unsigned feeds: it was built without the publisher's keys or "
        L"root");
  }
  const std::filesystem::path temporaryDirectory = TemporaryDirectory();
  if (!options.launcherUpdateAllowed) RemoveLeftoverInstallers(temporaryDirectory);
  const auto started = std::chrono::steady_clock::now();
  AttemptSettings settings{feedUrl, temporaryDirectory, options.gameArguments,
                           options.launcherUpdateAllowed};
  if (options.repair) {
    settings.prepare = [](const std::wstring& url, const ClientStore& within,
                          const ProgressCallback& progress, bool updateAllowed,
                          const std::filesystem::path& temporary) {
      return Prepare(url, within, progress, updateAllowed, temporary, BuiltInTrust(), true);
    };
  }
  const int exitCode =
      !options.checkFile.empty()
          ? RunCheck(options.checkFile, feedUrl, store, options.launcherUpdateAllowed,
                     temporaryDirectory, options.repair, options.summaryFile)
          : RunWindowMode(std::move(settings), store);
  LogLine(
      Format(L"The run ended with exit code {} after {:.1f} s", exitCode,
             std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()));
  CloseLog();
  return exitCode;
}

// A failure that reached the entry point: where the player or the caller can read it.
int Report(const LaunchOptions& options, const std::wstring& message) {
  LogLine(L"The run failed: " + message);
  CloseLog();
  if (!options.checkFile.empty()) {
    WriteCheckResult(options.checkFile, L"error\t" + message);
  } else {
    ReportWithoutSplash(message);
  }
  return 1;
}

}  // namespace

int RunLauncher(const std::vector<std::wstring>& arguments) {
  LaunchOptions options;
  try {
    options = ParseCommandLine(arguments);
    // A killed run must not leave the line of an earlier one behind for its caller.
    if (!options.checkFile.empty()) RemoveCheckResult(options.checkFile);
    if (!options.summaryFile.empty()) RemoveCheckResult(options.summaryFile);
    return Run(options);
  } catch (const Failure& failure) {
    return Report(options, failure.message);
  } catch (...) {
    return Report(options, kSomethingWentWrong);
  }
}

}  // namespace launcher
