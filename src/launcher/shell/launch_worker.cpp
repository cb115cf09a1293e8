#include "launcher/shell/launch_worker.h"

#include <exception>
#include <system_error>

#include "launcher/shell/start_process.h"
#include "launcher/text/failure.h"
#include "launcher/text/log.h"
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
  std::optional<std::wstring> shown;  // the failure the player reads
  try {
    const ProgressCallback progress = [this](const Progress& report) {
      SetProgress(splash_, report);
    };
    const Ready ready = settings_.prepare(settings_.feedUrl, store_, progress,
                                          launcherUpdateAllowed_, settings_.temporaryDirectory);
    shown = StartReady(ready);
  } catch (const Failure& failure) {
    LogLine(L"Shown to the player: " + failure.message +
            (failure.detail.empty() ? L"" : L" (" + failure.detail + L")"));
    shown = failure.message;
  } catch (const std::exception& error) {
    LogLine(L"Shown to the player: " + std::wstring(kSomethingWentWrong) + L" (" +
            Widen(error.what()) + L")");
    shown = kSomethingWentWrong;
  } catch (...) {
    LogLine(L"Shown to the player: " + std::wstring(kSomethingWentWrong));
    shown = kSomethingWentWrong;
  }
  // Over before the failure shows: "Try again" works from the moment the player can see it.
  running_ = false;
  if (shown) SetError(splash_, *shown);
}

std::optional<std::wstring> LaunchAttempts::StartReady(const Ready& ready) {
  const std::wstring executable = WideFromPath(ready.path);
  if (ready.isInstaller) {
    SetProgress(splash_, {L"Installing the new launcher\u2026", std::nullopt});
    LogLine(L"Starting the launcher installer " + executable);
    if (!StartProcess(executable, kInstallerArguments)) {
      // Later attempts bring the game up to date with the launcher that runs now.
      launcherUpdateAllowed_ = false;
      return L"The new launcher couldn't be installed. Try again to play with this one.";
    }
  } else {
    SetProgress(splash_, {L"Starting Quellorn\u2026", std::nullopt});
    LogLine(L"Starting the game " + executable + settings_.gameArguments);
    if (!StartProcess(executable, settings_.gameArguments)) {
      return L"Quellorn couldn't be started. Try again, or reinstall it from " + WebsiteHost() +
             L".";
    }
  }
  // Set before the close, so the start-up reads it once it has joined this thread.
  started_ = true;
  CloseSplash(splash_);
  return std::nullopt;
}

}  // namespace launcher
