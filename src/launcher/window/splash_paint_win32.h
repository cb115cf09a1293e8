#pragma once
// The splash window's WM_PAINT: the layout's drawing steps carried out with GDI into an
// off-screen bitmap, then copied to the window in one BitBlt. Every GDI object is made and
// deleted within the one paint. Windows only.

#include "launcher/platform/windows.h"
#include "launcher/window/splash.h"

namespace launcher {

void PaintSplash(Splash& splash, HWND window);

}  // namespace launcher
