#include "launcher/shell/launch_worker.h"

#include <exception>
#include <system_error>

#include "launcher/shell/start_process.h"
#include "launcher/text/failure.h"
#include "launcher/text/text.h"
#include "launcher/website.h"
#include "launcher/window/splash_presenter.h"

namespace launcher {
namespace {

constexpr wchar_t kInstallerArguments[] = L" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /update=1";

void StartReady(const AttemptValues& values, const Ready& ready) {
  Splash& splash = values.splash;
  const std::wstring executable = WideFromPath(ready.path);
  if (ready.isInstaller) {
    SetProgress(splash, {L"Installing the new launcher\u2026", std::nullopt});
    if (!StartProcess(executable, kInstallerArguments)) {
      // Later attempts bring the game up to date with the launcher that runs now.
      values.launcherUpdateAllowed = false;
      SetError(splash, L"The new launcher couldn't be installed. Try again to play with this one.");
      return;
    }
  } else {
    SetProgress(splash, {L"Starting Quellorn\u2026", std::nullopt});
    if (!StartProcess(executable, values.gameArguments)) {
      SetError(splash, L"Quellorn couldn't be started. Try again, or reinstall it from " +
                           WebsiteHost() + L".");
      return;
    }
  }
  // Set before the close, so the start-up reads it once it has joined this thread.
  values.started = true;
  CloseSplash(splash);
}

}  // namespace

void RunAttempt(const AttemptValues& values) {
  try {
    const std::filesystem::path temporaryDirectory = PathFromWide(values.temporaryDirectory);
    const ProgressCallback progress = [&splash = values.splash](const Progress& report) {
      SetProgress(splash, report);
    };
    const Ready ready = values.prepare(values.feedUrl, values.store, progress,
                                       values.launcherUpdateAllowed, temporaryDirectory);
    StartReady(values, ready);
  } catch (const Failure& failure) {
    SetError(values.splash, failure.message);
  } catch (const std::exception&) {
    SetError(values.splash, kSomethingWentWrong);
  }
}

void StartAttempt::operator()() const {
  if (worker.joinable()) worker.join();
  try {
    worker = std::thread(RunAttempt, values);
  } catch (const std::system_error&) {
    // No thread, no attempt: the player can only try again.
    SetError(values.splash, kSomethingWentWrong);
  }
}

}  // namespace launcher
