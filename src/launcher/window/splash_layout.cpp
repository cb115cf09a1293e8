#include "launcher/window/splash_layout.h"

#include <utility>

namespace launcher {
namespace {

DrawStep Shape(DrawKind kind, Rect rect, std::uint32_t colour) {
  DrawStep step;
  step.kind = kind;
  step.rect = rect;
  step.colour = colour;
  return step;
}

DrawStep Fill(Rect rect, std::uint32_t colour) {
  return Shape(DrawKind::Fill, rect, colour);
}

DrawStep Label(std::wstring text, Rect rect, int height, int weight, std::uint32_t colour,
               std::uint32_t format, bool italic) {
  DrawStep step = Shape(DrawKind::Label, rect, colour);
  step.text = std::move(text);
  step.height = height;
  step.weight = weight;
  step.format = format;
  step.italic = italic;
  return step;
}

}  // namespace

float ScaleForDpi(unsigned dpi) {
  return static_cast<float>(dpi) / 96.0f;
}

int Scaled(int length, float scale) {
  return static_cast<int>(static_cast<float>(length) * scale);
}

Rect ButtonRect(float scale) {
  return {Scaled(310, scale), Scaled(150, scale), Scaled(436, scale), Scaled(186, scale)};
}

std::vector<DrawStep> LayOutSplash(int width, int height, float scale, const SplashSnapshot& state,
                                   bool hot) {
  const auto at = [scale](int length) { return Scaled(length, scale); };
  const int margin = at(24);
  std::vector<DrawStep> steps;
  steps.push_back(Fill({0, 0, width, height}, kBackgroundColour));
  steps.push_back(Fill({0, height - at(4), width, height}, kAccentColour));
  steps.push_back(Shape(DrawKind::Transparent, {}, 0));
  steps.push_back(Label(kSplashTitle, {0, at(22), width, at(40)}, at(12), 700, kGoldColour,
                        kCentredLine, false));
  steps.push_back(Label(kSplashTagline, {0, at(44), width, at(66)}, at(15), 400, kTextColour,
                        kCentredLine, true));
  if (state.failed) {
    // The message may wrap down to just above the button.
    steps.push_back(Label(state.status, {margin, at(86), width - margin, at(140)}, at(15), 400,
                          kErrorColour, kWrappedText, false));
    const Rect button = ButtonRect(scale);
    steps.push_back(Fill(button, hot ? kHotButtonColour : kButtonColour));
    steps.push_back(Shape(DrawKind::Frame, button, kGoldColour));
    steps.push_back(Label(L"Try again", button, at(15), 700, kGoldColour, kCentredInBox, false));
    return steps;
  }
  // The counts of a progress line stand apart on the right and are never cut; the words before
  // them give way with an ellipsis when the line is too long.
  const std::size_t countsAt = state.status.rfind(L"\u2026 ");
  const bool counts = countsAt != std::wstring::npos;
  const int wordsEnd = counts ? width - margin - at(kCountsWidth) : width - margin;
  steps.push_back(Label(counts ? state.status.substr(0, countsAt + 1) : state.status,
                        {margin, at(86), wordsEnd, at(112)}, at(15), 400, kTextColour, kCutLine,
                        false));
  if (state.fraction) {
    // Written so that a NaN, too, draws an empty bar rather than an undefined width.
    const double given = *state.fraction;
    const double share = given >= 1.0 ? 1.0 : (given > 0.0 ? given : 0.0);
    const int fill = static_cast<int>(static_cast<double>(width - margin - margin) * share);
    steps.push_back(Fill({margin, at(122), width - margin, at(130)}, kTrackColour));
    steps.push_back(Fill({margin, at(122), margin + fill, at(130)}, kAccentColour));
  }
  if (counts) {
    steps.push_back(Label(state.status.substr(countsAt + 2),
                          {wordsEnd, at(86), width - margin, at(112)}, at(15), 400, kTextColour,
                          kRightLine, false));
  }
  return steps;
}

}  // namespace launcher
