#pragma once
// One update-and-start attempt on a thread of its own, so that the window stays responsive:
// Prepare with its progress in the splash state, then the game or the new launcher's installer
// started and the window closed, or the failure shown with "Try again". Attempts never overlap,
// and one run starts at most one program.

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "launcher/store/client_store.h"
#include "launcher/update/prepare.h"
#include "launcher/window/splash.h"

namespace launcher {

using PrepareFunction = std::function<Ready(
    const std::wstring& feedUrl, const ClientStore& store, const ProgressCallback& progress,
    bool launcherUpdateAllowed, const std::filesystem::path& temporaryDirectory)>;

// What every attempt of a run works with; the launcher update flag is the run's starting value.
struct AttemptSettings {
  std::wstring feedUrl;
  std::filesystem::path temporaryDirectory;
  std::wstring gameArguments;  // empty, or a space and a quoted argument for each one
  bool launcherUpdateAllowed = true;
  // Prepare with the launcher's own keys.
  PrepareFunction prepare = [](const std::wstring& url, const ClientStore& store,
                               const ProgressCallback& progress, bool updateAllowed,
                               const std::filesystem::path& temporary) {
    return Prepare(url, store, progress, updateAllowed, temporary);
  };
};

// The run's attempts: owns the worker thread and what the attempts share. The store and the
// splash state belong to the start-up and outlive this object.
class LaunchAttempts {
 public:
  LaunchAttempts(AttemptSettings settings, const ClientStore& store, Splash& splash);
  ~LaunchAttempts();  // waits for a running attempt: it is never cancelled
  LaunchAttempts(const LaunchAttempts&) = delete;
  LaunchAttempts& operator=(const LaunchAttempts&) = delete;

  // The retry action, on the user interface thread: starts the next attempt on a fresh thread.
  // Does nothing while an attempt runs or once a program has been started.
  void Start();

  // One attempt on the calling thread, for a run without a window.
  void RunHere();

  // Waits for the running attempt, if any.
  void Finish();

  // Whether an attempt started the game or the installer; read after Finish.
  bool Started() const { return started_; }
  bool LauncherUpdateAllowed() const { return launcherUpdateAllowed_; }

 private:
  void Run();  // an attempt's body: reports everything through the splash state, throws nothing
  // Starts what Prepare named; the failure the player reads when it won't start.
  std::optional<std::wstring> StartReady(const Ready& ready);

  const AttemptSettings settings_;
  const ClientStore& store_;
  Splash& splash_;
  std::thread worker_;
  std::atomic<bool> running_{false};
  std::atomic<bool> started_{false};
  // Turned off for the rest of the run when a downloaded installer won't start.
  std::atomic<bool> launcherUpdateAllowed_;
};

}  // namespace launcher
