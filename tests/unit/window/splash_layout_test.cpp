#include "launcher/window/splash_layout.h"

#include <gtest/gtest.h>

#include <limits>

namespace launcher {
namespace {

// Indexes into the drawing list, whose order is fixed.
enum Step {
  kBackground,
  kStrip,
  kTransparent,
  kTitle,
  kTagline,
  kStatus,
  kTrackOrFace,
  kFillOrFrame,
  kButtonLabel
};

SplashSnapshot Working(std::optional<double> fraction) {
  return {L"Downloading Quellorn\u2026 12 of 340 MB", fraction, false, 1};
}

SplashSnapshot Failed(std::optional<double> fraction = std::nullopt) {
  return {L"Couldn't reach quellorn.example. Check your connection and try again.", fraction, true,
          2};
}

TEST(SplashLayout, WorkingAt96DpiDrawsEveryElementWhereTheWindowShowsIt) {
  const auto steps = LayOutSplash(460, 210, ScaleForDpi(96), Working(0.5), false);
  ASSERT_EQ(steps.size(), 9u);
  EXPECT_EQ(steps[kBackground].kind, DrawKind::Fill);
  EXPECT_EQ(steps[kBackground].rect, (Rect{0, 0, 460, 210}));
  EXPECT_EQ(steps[kBackground].colour, 0x0A0C12u);
  EXPECT_EQ(steps[kStrip].rect, (Rect{0, 206, 460, 210}));
  EXPECT_EQ(steps[kStrip].colour, 0x2A7AFFu);
  EXPECT_EQ(steps[kTransparent].kind, DrawKind::Transparent);

  const DrawStep& title = steps[kTitle];
  EXPECT_EQ(title.kind, DrawKind::Label);
  EXPECT_EQ(title.text, L"Q U E L L O R N");
  EXPECT_EQ(title.rect, (Rect{0, 22, 460, 40}));
  EXPECT_EQ(title.height, 12);
  EXPECT_EQ(title.weight, 700);
  EXPECT_EQ(title.colour, 0x6BC2F5u);
  EXPECT_EQ(title.format, 0x21u);
  EXPECT_FALSE(title.italic);

  const DrawStep& tagline = steps[kTagline];
  EXPECT_EQ(tagline.rect, (Rect{0, 44, 460, 66}));
  EXPECT_EQ(tagline.height, 15);
  EXPECT_EQ(tagline.weight, 400);
  EXPECT_EQ(tagline.colour, 0xD8CCC5u);
  EXPECT_TRUE(tagline.italic);
  EXPECT_FALSE(tagline.text.empty());

  // The words, cut with an ellipsis when too long; the counts apart on the right, never cut.
  const DrawStep& status = steps[kStatus];
  EXPECT_EQ(status.text, L"Downloading Quellorn\u2026");
  EXPECT_EQ(status.rect, (Rect{24, 86, 306, 112}));
  EXPECT_EQ(status.colour, 0xD8CCC5u);
  EXPECT_EQ(status.format, 0x8020u);
  const DrawStep& counts = steps.back();
  EXPECT_EQ(counts.text, L"12 of 340 MB");
  EXPECT_EQ(counts.rect, (Rect{306, 86, 436, 112}));
  EXPECT_EQ(counts.colour, 0xD8CCC5u);
  EXPECT_EQ(counts.format, 0x22u);  // one line, right-aligned
  // A line without counts has the whole width.
  const auto plain =
      LayOutSplash(460, 210, 1.0f, {L"Unpacking Quellorn\u2026", std::nullopt, false, 1}, false);
  ASSERT_EQ(plain.size(), 6u);
  EXPECT_EQ(plain[kStatus].text, L"Unpacking Quellorn\u2026");
  EXPECT_EQ(plain[kStatus].rect, (Rect{24, 86, 436, 112}));

  EXPECT_EQ(steps[kTrackOrFace].rect, (Rect{24, 122, 436, 130}));
  EXPECT_EQ(steps[kTrackOrFace].colour, 0x20263Au);
  // Half of the 412 pixels between the margins.
  EXPECT_EQ(steps[kFillOrFrame].rect, (Rect{24, 122, 230, 130}));
  EXPECT_EQ(steps[kFillOrFrame].colour, 0x2A7AFFu);
}

TEST(SplashLayout, TheBarFollowsTheFractionClampedAndVanishesWithoutOne) {
  struct Case {
    std::optional<double> fraction;
    int fillRight;  // -1: no bar at all
  };
  const Case cases[] = {
      {std::nullopt, -1},
      {0.0, 24},
      {0.5, 230},
      {1.0, 436},
      {1.7, 436},
      {-0.2, 24},
      {std::numeric_limits<double>::quiet_NaN(), 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fraction ? *c.fraction : -99.0);
    const auto steps = LayOutSplash(460, 210, 1.0f, Working(c.fraction), false);
    if (c.fillRight < 0) {
      EXPECT_EQ(steps.size(), 7u);
      continue;
    }
    ASSERT_EQ(steps.size(), 9u);
    EXPECT_EQ(steps[kTrackOrFace].rect, (Rect{24, 122, 436, 130}));
    EXPECT_EQ(steps[kFillOrFrame].rect, (Rect{24, 122, c.fillRight, 130}));
  }
}

TEST(SplashLayout, FailedShowsTheWrappedErrorAndTheButtonButNeverTheBar) {
  for (const auto fraction : {std::optional<double>(), std::optional<double>(0.5)}) {
    for (const bool hot : {false, true}) {
      SCOPED_TRACE(testing::Message() << "fraction " << fraction.has_value() << " hot " << hot);
      const auto steps = LayOutSplash(460, 210, 1.0f, Failed(fraction), hot);
      ASSERT_EQ(steps.size(), 9u);
      const DrawStep& status = steps[kStatus];
      EXPECT_EQ(status.text, Failed().status);
      EXPECT_EQ(status.rect, (Rect{24, 86, 436, 140}));
      EXPECT_EQ(status.colour, 0x708AFFu);
      EXPECT_EQ(status.format, 0x10u);  // wraps

      const Rect button{310, 150, 436, 186};
      EXPECT_EQ(steps[kTrackOrFace].kind, DrawKind::Fill);
      EXPECT_EQ(steps[kTrackOrFace].rect, button);
      // Only the face tells hot from not hot.
      EXPECT_EQ(steps[kTrackOrFace].colour, hot ? 0x1C2A4Au : 0x12182Au);
      EXPECT_EQ(steps[kFillOrFrame].kind, DrawKind::Frame);
      EXPECT_EQ(steps[kFillOrFrame].rect, button);
      EXPECT_EQ(steps[kFillOrFrame].colour, 0x6BC2F5u);
      const DrawStep& label = steps[kButtonLabel];
      EXPECT_EQ(label.text, L"Try again");
      EXPECT_EQ(label.rect, button);
      EXPECT_EQ(label.weight, 700);
      EXPECT_EQ(label.colour, 0x6BC2F5u);
      EXPECT_EQ(label.format, 0x25u);
    }
  }
}

TEST(SplashLayout, LengthsScaleWithTheDpiTruncatedInSinglePrecision) {
  // Client sizes are MulDiv(460, dpi, 96) × MulDiv(210, dpi, 96), which rounds: 262.5 → 263.
  struct Case {
    unsigned dpi;
    int width, height;
    int strip, margin, titleTop, titleBottom, titleHeight, textHeight;
    Rect status, failedStatus, track, halfFill, button;
  };
  const Case cases[] = {
      {96,
       460,
       210,
       4,
       24,
       22,
       40,
       12,
       15,
       {24, 86, 306, 112},
       {24, 86, 436, 140},
       {24, 122, 436, 130},
       {24, 122, 230, 130},
       {310, 150, 436, 186}},
      // s = 1.25: 27.5 → 27, 18.75 → 18, 152.5 → 152; half of 515 is 257.5 → 257.
      {120,
       575,
       263,
       5,
       30,
       27,
       50,
       15,
       18,
       {30, 107, 383, 140},
       {30, 107, 545, 175},
       {30, 152, 545, 162},
       {30, 152, 287, 162},
       {387, 187, 545, 232}},
      // s = 1.5: 22.5 → 22.
      {144,
       690,
       315,
       6,
       36,
       33,
       60,
       18,
       22,
       {36, 129, 459, 168},
       {36, 129, 654, 210},
       {36, 183, 654, 195},
       {36, 183, 345, 195},
       {465, 225, 654, 279}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    const float scale = ScaleForDpi(c.dpi);
    EXPECT_EQ(ButtonRect(scale), c.button);

    const auto working = LayOutSplash(c.width, c.height, scale, Working(0.5), false);
    ASSERT_EQ(working.size(), 9u);
    EXPECT_EQ(working[kStrip].rect, (Rect{0, c.height - c.strip, c.width, c.height}));
    EXPECT_EQ(working[kTitle].rect, (Rect{0, c.titleTop, c.width, c.titleBottom}));
    EXPECT_EQ(working[kTitle].height, c.titleHeight);
    EXPECT_EQ(working[kTagline].height, c.textHeight);
    EXPECT_EQ(working[kStatus].height, c.textHeight);
    EXPECT_EQ(working[kStatus].rect, c.status);
    EXPECT_EQ(working[kTrackOrFace].rect, c.track);
    EXPECT_EQ(working[kFillOrFrame].rect, c.halfFill);

    const auto failed = LayOutSplash(c.width, c.height, scale, Failed(), true);
    ASSERT_EQ(failed.size(), 9u);
    EXPECT_EQ(failed[kStatus].rect, c.failedStatus);
    EXPECT_EQ(failed[kTrackOrFace].rect, c.button);
    EXPECT_EQ(failed[kButtonLabel].height, c.textHeight);
  }
}

}  // namespace
}  // namespace launcher
