#pragma once
// The splash window's shared state: what the status line says, how far the current step has got,
// and whether the last attempt failed. The worker and the download threads write it from any
// thread; the user interface thread reads it to draw. The platform's presenter (the window on
// Windows, the terminal on Linux) is told to redraw after every change.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "launcher/update/prepare.h"

namespace launcher {

struct Splash {
  std::function<void()> retry;  // "Try again": set before the window exists, then only read

  std::mutex lock;                 // guards status, fraction, failed, revision
  std::wstring status;             // the status line, or the error message when failed
  std::optional<double> fraction;  // progress of the current step, 0 to 1
  bool failed = false;             // the error state, with the "Try again" button
  std::uint64_t revision = 0;      // counts the changes, so a presenter knows what it has shown

  bool hot = false;        // the pointer is over "Try again"; user interface thread only
  void* window = nullptr;  // the presenter's handle (an HWND on Windows); set once, before attempts
};

// A copy of the three guarded fields, taken under the lock, for drawing without it.
struct SplashSnapshot {
  std::wstring status;
  std::optional<double> fraction;
  bool failed = false;
  std::uint64_t revision = 0;
};

SplashSnapshot TakeSnapshot(Splash& splash);

// Shows a progress report and leaves the error state. Any thread.
void SetProgress(Splash& splash, const Progress& progress);

// Shows an error message with "Try again". Any thread.
void SetError(Splash& splash, const std::wstring& message);

}  // namespace launcher
