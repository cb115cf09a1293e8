// Win32 implementation of the splash painting; the layout itself is platform-neutral.

#include "launcher/window/splash_paint_win32.h"

#include "launcher/platform/handles_win32.h"
#include "launcher/window/splash_layout.h"

namespace launcher {
namespace {

static_assert(kCentredLine == (DT_CENTER | DT_SINGLELINE));
static_assert(kCutLine == (DT_SINGLELINE | DT_END_ELLIPSIS));
static_assert(kWrappedText == DT_WORDBREAK);
static_assert(kCentredInBox == (DT_CENTER | DT_VCENTER | DT_SINGLELINE));
static_assert(kRightLine == (DT_RIGHT | DT_SINGLELINE));

// Puts the DC's previous object back before the selected one is deleted: GDI must never delete
// an object while a DC holds it. Declare it after the object it selects.
class ScopedSelection {
 public:
  ScopedSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~ScopedSelection() { SelectObject(dc_, previous_); }
  ScopedSelection(const ScopedSelection&) = delete;
  ScopedSelection& operator=(const ScopedSelection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

RECT ToRect(const Rect& rect) {
  return {rect.left, rect.top, rect.right, rect.bottom};
}

void FillSolid(HDC dc, const Rect& rect, COLORREF colour) {
  const GdiObject brush(CreateSolidBrush(colour));
  const RECT area = ToRect(rect);
  FillRect(dc, &area, static_cast<HBRUSH>(brush.Get()));
}

void FrameSolid(HDC dc, const Rect& rect, COLORREF colour) {
  const GdiObject brush(CreateSolidBrush(colour));
  const RECT area = ToRect(rect);
  FrameRect(dc, &area, static_cast<HBRUSH>(brush.Get()));
}

void DrawLabel(HDC dc, const DrawStep& label) {
  // A negative height asks for the em height rather than the cell height.
  const GdiObject font(CreateFontW(-label.height, 0, 0, 0, label.weight, label.italic, FALSE, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI"));
  const ScopedSelection selection(dc, font.Get());
  SetTextColor(dc, label.colour);
  RECT area = ToRect(label.rect);
  DrawTextW(dc, label.text.c_str(), static_cast<int>(label.text.size()), &area, label.format);
}

void Draw(HDC dc, const DrawStep& step) {
  switch (step.kind) {
    case DrawKind::Fill:
      FillSolid(dc, step.rect, step.colour);
      break;
    case DrawKind::Frame:
      FrameSolid(dc, step.rect, step.colour);
      break;
    case DrawKind::Transparent:
      SetBkMode(dc, TRANSPARENT);
      break;
    case DrawKind::Label:
      DrawLabel(dc, step);
      break;
  }
}

}  // namespace

void PaintSplash(Splash& splash, HWND window) {
  const SplashSnapshot state = TakeSnapshot(splash);
  PAINTSTRUCT paint{};
  HDC target = BeginPaint(window, &paint);
  RECT client{};
  GetClientRect(window, &client);
  const int width = client.right;
  const int height = client.bottom;
  {
    const MemoryDc memory(CreateCompatibleDC(target));
    const GdiObject bitmap(CreateCompatibleBitmap(target, width, height));
    const ScopedSelection selection(memory.Get(), bitmap.Get());
    const float scale = ScaleForDpi(GetDpiForWindow(window));
    for (const DrawStep& step : LayOutSplash(width, height, scale, state, splash.hot)) {
      Draw(memory.Get(), step);
    }
    BitBlt(target, 0, 0, width, height, memory.Get(), 0, 0, SRCCOPY);
  }
  EndPaint(window, &paint);
}

}  // namespace launcher
