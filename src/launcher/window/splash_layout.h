#pragma once
// What the splash window draws, as a pure function of its size, its scale and the state: an
// ordered list of drawing steps that the Win32 painter carries out one by one. Lengths are
// device-independent pixels scaled by the window's DPI; colours are Windows COLORREF values.

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/window/splash.h"

namespace launcher {

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  bool operator==(const Rect&) const = default;
};

// Colours, 0x00BBGGRR.
inline constexpr std::uint32_t kBackgroundColour = 0x0A0C12;
inline constexpr std::uint32_t kAccentColour = 0x2A7AFF;
inline constexpr std::uint32_t kGoldColour = 0x6BC2F5;
inline constexpr std::uint32_t kTextColour = 0xD8CCC5;
inline constexpr std::uint32_t kErrorColour = 0x708AFF;
inline constexpr std::uint32_t kTrackColour = 0x20263A;
inline constexpr std::uint32_t kButtonColour = 0x12182A;
inline constexpr std::uint32_t kHotButtonColour = 0x1C2A4A;

// DrawTextW formats, by the values of the DT_ flags they combine.
inline constexpr std::uint32_t kCentredLine = 0x21;   // DT_CENTER | DT_SINGLELINE
inline constexpr std::uint32_t kCutLine = 0x8020;     // DT_SINGLELINE | DT_END_ELLIPSIS
inline constexpr std::uint32_t kWrappedText = 0x10;   // DT_WORDBREAK
inline constexpr std::uint32_t kCentredInBox = 0x25;  // ... | DT_VCENTER
inline constexpr std::uint32_t kRightLine = 0x22;     // DT_RIGHT | DT_SINGLELINE

// The room a progress line's counts ("146 of 234 MB") keep on the right, in device-independent
// pixels: enough for two five-digit numbers.
inline constexpr int kCountsWidth = 130;

inline constexpr wchar_t kSplashTitle[] = L"Q U E L L O R N";
inline constexpr wchar_t kSplashTagline[] = L"The north wind waits for no one.";

enum class DrawKind {
  Fill,         // a solid rectangle
  Frame,        // a one-pixel border inside the rectangle
  Transparent,  // texts from here on are drawn without a background
  Label,        // text in "Segoe UI"
};

struct DrawStep {
  DrawKind kind = DrawKind::Fill;
  Rect rect;
  std::uint32_t colour = 0;
  std::wstring text;  // labels only, as are the members below
  int height = 0;     // em height in pixels
  int weight = 0;     // 400 regular, 700 bold
  std::uint32_t format = 0;
  bool italic = false;

  bool operator==(const DrawStep&) const = default;
};

// The window's DPI over 96, in single precision as the window system's arithmetic has it.
float ScaleForDpi(unsigned dpi);

// A device-independent length at `scale`: the single-precision product, truncated.
int Scaled(int length, float scale);

// The "Try again" button in client pixels.
Rect ButtonRect(float scale);

// Everything the window shows, in drawing order, for a client area of width × height. A progress
// line's counts, after its last "… ", come last, right-aligned.
std::vector<DrawStep> LayOutSplash(int width, int height, float scale, const SplashSnapshot& state,
                                   bool hot);

}  // namespace launcher
