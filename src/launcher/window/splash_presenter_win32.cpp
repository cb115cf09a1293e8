// Win32 implementation of the splash presenter: the window, its procedure and the message loop.

#include "launcher/window/splash_presenter.h"

#include <exception>

#include "launcher/platform/windows.h"  // before <dwmapi.h>, which needs its types
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/log.h"
#include "launcher/text/text.h"
#include "launcher/window/splash_layout.h"
#include "launcher/window/splash_paint_win32.h"

#include <dwmapi.h>

namespace launcher {
namespace {

constexpr wchar_t kClassName[] = L"QuellornLauncher";
constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kDarkTitleBar = 20;  // DWMWA_USE_IMMERSIVE_DARK_MODE; older SDKs lack the name

// The window procedure's way to the state: set before the class exists, so every message the
// window can receive finds it.
Splash* g_splash = nullptr;

HWND WindowOf(const Splash& splash) {
  return static_cast<HWND>(splash.window);
}

Rect CurrentButtonRect(HWND window) {
  return ButtonRect(ScaleForDpi(GetDpiForWindow(window)));
}

LRESULT TrackPointer(Splash& splash, HWND window, WPARAM wParam, LPARAM lParam) {
  // Signed: a pointer left of or above a window on a second monitor has negative coordinates.
  const POINT pointer{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  const Rect button = CurrentButtonRect(window);
  const RECT area{button.left, button.top, button.right, button.bottom};
  const bool failed = TakeSnapshot(splash).failed;
  const bool hot = failed && PtInRect(&area, pointer);
  if (hot != splash.hot) {
    splash.hot = hot;
    InvalidateRect(window, nullptr, FALSE);
  }
  return DefWindowProcW(window, WM_MOUSEMOVE, wParam, lParam);
}

LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Splash* splash = g_splash;
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers every pixel
    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER);
      return 0;
    }
    default:
      break;
  }
  if (splash == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_PAINT:
      PaintSplash(*splash, window);
      return 0;
    case WM_SETCURSOR:
      if (!splash->hot) break;
      SetCursor(LoadCursorW(nullptr, IDC_HAND));
      return 1;
    case WM_MOUSEMOVE:
      return TrackPointer(*splash, window, wParam, lParam);
    case WM_LBUTTONUP:
      if (!splash->hot || !splash->retry) break;
      splash->hot = false;
      splash->retry();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK SplashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Nothing may unwind through the system's frames, a Failure no more than anything else.
  try {
    return HandleMessage(window, message, wParam, lParam);
  } catch (const Failure& failure) {
    LogLine(Format(L"The window's message {} failed: {}", message, failure.message));
  } catch (const std::exception& error) {
    LogLine(Format(L"The window's message {} failed: {}", message, Widen(error.what())));
  } catch (...) {
    LogLine(Format(L"The window's message {} failed", message));
  }
  return 0;
}

}  // namespace

bool CreateSplash(Splash& splash) {
  g_splash = &splash;
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  HINSTANCE instance = GetModuleHandleW(nullptr);

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = SplashWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  windowClass.hIconSm = windowClass.hIcon;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);  // a failure shows as the window's failure below

  const UINT dpi = GetDpiForSystem();
  RECT outer{0, 0, MulDiv(460, dpi, 96), MulDiv(210, dpi, 96)};
  AdjustWindowRectExForDpi(&outer, kStyle, FALSE, 0, dpi);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  HWND window = CreateWindowExW(0, kClassName, L"Quellorn", kStyle, x, y, width, height,
                                /*parent=*/nullptr, /*menu=*/nullptr, instance, nullptr);
  if (window == nullptr) return false;
  splash.window = window;

  const BOOL dark = TRUE;
  DwmSetWindowAttribute(window, kDarkTitleBar, &dark, sizeof dark);
  ShowWindow(window, SW_SHOW);
  return true;
}

void RunSplash(Splash&) {
  MSG message{};
  // 0 is the quit message from WM_DESTROY, -1 an error; either ends the loop.
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void RefreshSplash(const Splash& splash) {
  // A null window would invalidate every window on the desktop.
  if (HWND window = WindowOf(splash)) InvalidateRect(window, nullptr, FALSE);
}

void CloseSplash(const Splash& splash) {
  if (HWND window = WindowOf(splash)) PostMessageW(window, WM_CLOSE, 0, 0);
}

void ReportWithoutSplash(const std::wstring& message) {
  MessageBoxW(nullptr, message.c_str(), L"Quellorn", MB_OK | MB_ICONERROR);
}

}  // namespace launcher
