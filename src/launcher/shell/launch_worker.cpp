#include "launcher/shell/launch_worker.h"

#include <exception>
#include <system_error>

#include "launcher/shell/start_process.h"
#include "launcher/text/failure.h"
#include "launcher/text/text.h"
#include "launcher/text/website.h"
#include "launcher/window/splash_presenter.h"

namespace launcher {
namespace {

constexpr wchar_t kInstallerArguments[] = L" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /update=1";

}  // namespace

LaunchAttempts::LaunchAttempts(AttemptSettings settings, const ClientStore& store, Splash& splash)
    : settings_(std::move(settings)),
      store_(store),
      splash_(splash),
      launcherUpdateAllowed_(settings_.launcherUpdateAllowed) {}

LaunchAttempts::~LaunchAttempts() {
  Finish();
}

void LaunchAttempts::Start() {
  // A second click while an attempt runs must neither block the window nor start a second one.
  if (running_ || started_) return;
  Finish();
  running_ = true;
  try {
    worker_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    running_ = false;
    // No thread, no attempt: the player can only try again.
    SetError(splash_, kSomethingWentWrong);
  }
}

void LaunchAttempts::RunHere() {
  if (running_ || started_) return;
  running_ = true;
  Run();
}

void LaunchAttempts::Finish() {
  if (worker_.joinable()) worker_.join();
}

void LaunchAttempts::Run() {
  try {
    const ProgressCallback progress = [this](const Progress& report) {
      SetProgress(splash_, report);
    };
    const Ready ready = settings_.prepare(settings_.feedUrl, store_, progress,
                                          launcherUpdateAllowed_, settings_.temporaryDirectory);
    StartReady(ready);
  } catch (const Failure& failure) {
    SetError(splash_, failure.message);
  } catch (...) {
    SetError(splash_, kSomethingWentWrong);
  }
  running_ = false;
}

void LaunchAttempts::StartReady(const Ready& ready) {
  const std::wstring executable = WideFromPath(ready.path);
  if (ready.isInstaller) {
    SetProgress(splash_, {L"Installing the new launcher\u2026", std::nullopt});
    if (!StartProcess(executable, kInstallerArguments)) {
      // Later attempts bring the game up to date with the launcher that runs now.
      launcherUpdateAllowed_ = false;
      SetError(splash_,
               L"The new launcher couldn't be installed. Try again to play with this one.");
      return;
    }
  } else {
    SetProgress(splash_, {L"Starting Quellorn\u2026", std::nullopt});
    if (!StartProcess(executable, settings_.gameArguments)) {
      SetError(splash_, L"Quellorn couldn't be started. Try again, or reinstall it from " +
                            WebsiteHost() + L".");
      return;
    }
  }
  // Set before the close, so the start-up reads it once it has joined this thread.
  started_ = true;
  CloseSplash(splash_);
}

}  // namespace launcher
