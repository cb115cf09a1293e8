#pragma once
// One update-and-start attempt on a thread of its own, so that the window stays responsive:
// Prepare with its progress in the splash state, then the game or the new launcher's installer
// started and the window closed, or the failure shown with "Try again". Attempts never overlap.

#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "launcher/feed/prepare.h"
#include "launcher/store/client_store.h"
#include "launcher/window/splash.h"

namespace launcher {

using PrepareFunction = std::function<Ready(
    const std::wstring& feedUrl, const ClientStore& store, const ProgressCallback& progress,
    bool launcherUpdateAllowed, const std::filesystem::path& temporaryDirectory)>;

// The run's values that an attempt reads and writes. The start-up owns them and outlives every
// attempt; an attempt's thread holds only these references.
struct AttemptValues {
  const std::wstring& feedUrl;
  const ClientStore& store;
  Splash& splash;
  bool& launcherUpdateAllowed;  // turned off for good when an installer won't start
  const std::wstring& temporaryDirectory;
  bool& started;  // read by the start-up only after the attempt's thread is joined
  const std::wstring& gameArguments;
  PrepareFunction prepare = Prepare;
};

// The worker thread's body. Reports everything through the splash state; throws nothing.
void RunAttempt(const AttemptValues& values);

// The retry action: joins the previous attempt's thread, then starts the next. User interface
// thread only.
struct StartAttempt {
  std::thread& worker;
  AttemptValues values;

  void operator()() const;
};

}  // namespace launcher
