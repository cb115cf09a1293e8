#pragma once
// How the splash state reaches the player: the window on Windows, the terminal on Linux. The
// start-up makes it, runs it on its own thread until it is gone, and the writers of the state
// ask it to redraw; a presenter that doesn't exist (window still null) ignores every request.

#include <string>

#include "launcher/window/splash.h"

namespace launcher {

// Makes the presenter and shows it; sets splash.window. False when it can't be made.
bool CreateSplash(Splash& splash);

// The user interface thread's loop: returns once the presenter is gone (closed by the player, or
// by CloseSplash).
void RunSplash(Splash& splash);

// Any thread: draw the state again, after it has changed.
void RefreshSplash(const Splash& splash);

// Any thread: close the presenter, as the player closing the window would.
void CloseSplash(const Splash& splash);

// Shows a failure to the player when no presenter could be made.
void ReportWithoutSplash(const std::wstring& message);

}  // namespace launcher
