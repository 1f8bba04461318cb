#include <gtest/gtest.h>

#include <vector>

#include "chip/EffectTiming.h"

using namespace chip;

namespace {
std::vector<double> Widths(const std::vector<SegmentSpan>& spans) {
  std::vector<double> w;
  for (const auto& s : spans) w.push_back(s.x1 - s.x0);
  return w;
}
}  // namespace

TEST(EffectTimingTest, StretchesAreToScaleAndFillTheWidth) {
  struct Case {
    const char* what;
    std::vector<TimingSegment> period;
    std::vector<double> widths;  // of a 400-unit plot
  };
  const Case cases[] = {
      // 315 + 630 + 315 + 1260 = 2520 ms over 400 units.
      {"blink", BlinkPeriod(1, 2, 1, 3), {50, 100, 50, 200}},
      // A "0ms" stretch takes no room: the curve jumps there.
      {"blink with an instant ramp", BlinkPeriod(0, 1, 0, 1), {0, 200, 0, 200}},
      // Nothing lasts: no scale to keep, so every stretch gets a share for its label.
      {"blink all 0ms", BlinkPeriod(0, 0, 0, 0), {100, 100, 100, 100}},
      // The hold has no time: a fixed quarter, the ramps share the rest to scale.
      {"fade", FadePeriod(1, 3), {60, 100, 240}},
      {"fade all 0ms", FadePeriod(0, 0), {150, 100, 150}},
      // A code without a time (7, written from the register page) counts as none.
      {"unknown code", BlinkPeriod(7, 1, 1, 1), {0, 400.0 / 3, 400.0 / 3, 400.0 / 3}},
  };
  for (const Case& c : cases) {
    const auto spans = SegmentSpans(c.period, 400);
    const auto widths = Widths(spans);
    ASSERT_EQ(widths.size(), c.widths.size()) << c.what;
    for (std::size_t i = 0; i < widths.size(); ++i) EXPECT_NEAR(widths[i], c.widths[i], 1e-9) << c.what << " #" << i;
    // Contiguous from 0 to the full width.
    EXPECT_DOUBLE_EQ(spans.front().x0, 0) << c.what;
    for (std::size_t i = 1; i < spans.size(); ++i) EXPECT_DOUBLE_EQ(spans[i].x0, spans[i - 1].x1) << c.what;
    EXPECT_NEAR(spans.back().x1, 400, 1e-9) << c.what;
  }
  EXPECT_TRUE(DrawnToScale(BlinkPeriod(0, 1, 0, 0)));
  EXPECT_FALSE(DrawnToScale(BlinkPeriod(0, 0, 0, 0)));
  EXPECT_FALSE(DrawnToScale(FadePeriod(0, 0)));
}

TEST(EffectTimingTest, TheCurveRisesHoldsFallsAndRestsAndEveryStretchIsNamed) {
  const auto blink = BlinkPeriod(0, 5, 4, 1);
  const std::vector<const char*> texts = {"0ms", "5040ms", "2520ms", "315ms"};
  for (std::size_t i = 0; i < blink.size(); ++i) EXPECT_STREQ(SegmentText(blink[i]), texts[i]);
  // Each stretch starts where the one before ended, and the period closes.
  for (std::size_t i = 1; i < blink.size(); ++i) EXPECT_EQ(StartLevel(blink[i].phase), EndLevel(blink[i - 1].phase));
  EXPECT_EQ(EndLevel(blink.back().phase), StartLevel(blink.front().phase));
  EXPECT_EQ(EndLevel(TimingPhase::kRampOn), 1.0);
  EXPECT_EQ(EndLevel(TimingPhase::kRampOff), 0.0);
  EXPECT_STREQ(SegmentText({TimingPhase::kRampOn, std::nullopt}), "?");
  EXPECT_STREQ(SegmentText({TimingPhase::kHold, std::nullopt}), "");
}

TEST(EffectTimingTest, LabelsNeverOverlapAndStayOnTheLine) {
  struct Case {
    const char* what;
    std::vector<double> centres;
    std::vector<double> widths;
    std::vector<LabelPlace> expected;
  };
  const Case cases[] = {
      {"room for all", {50, 150, 250}, {40, 40, 40}, {{30, 0}, {130, 0}, {230, 0}}},
      // Crowded: the second goes to the other row, the third back to the first.
      {"crowded", {50, 60, 70}, {40, 40, 40}, {{30, 0}, {40, 1}, {74, 0}}},
      // Four in one spot: both rows fill up, each just after its row's last.
      {"pile", {100, 100, 100, 100}, {40, 40, 40, 40}, {{80, 0}, {80, 1}, {124, 0}, {124, 1}}},
      // At the edges a label is pulled inside.
      {"edges", {0, 300}, {40, 40}, {{0, 0}, {260, 0}}},
  };
  for (const Case& c : cases) {
    const auto places = PlaceLabels(c.centres, c.widths, 300, 4);
    ASSERT_EQ(places.size(), c.expected.size()) << c.what;
    for (std::size_t i = 0; i < places.size(); ++i) {
      EXPECT_DOUBLE_EQ(places[i].x, c.expected[i].x) << c.what << " #" << i;
      EXPECT_EQ(places[i].row, c.expected[i].row) << c.what << " #" << i;
    }
    // No two in a row overlap.
    for (std::size_t i = 0; i < places.size(); ++i)
      for (std::size_t j = i + 1; j < places.size(); ++j)
        if (places[i].row == places[j].row)
          EXPECT_TRUE(places[i].x + c.widths[i] <= places[j].x || places[j].x + c.widths[j] <= places[i].x)
              << c.what << " " << i << "/" << j;
  }
}

TEST(EffectTimingTest, WhatRunsFollowsTheRegistersAsKnown) {
  struct Case {
    const char* what;
    EffectRegisters r;  // 0x14, 0x11, 0x04, 0x05, 0x02, 0x03
    RunningEffect expected;
  };
  const std::optional<std::uint8_t> none;
  const Case cases[] = {
      {"blink chain done", {0xFF, 0x80, 0x03, 0x0F, none, none}, RunningEffect::kBlink},
      {"fade on chain done", {0xFF, 0x7F, 0x00, 0x00, 0x03, 0x0F}, RunningEffect::kFadeOn},
      {"fade off chain done", {0xFF, 0x7F, 0x00, 0x00, 0x00, 0x00}, RunningEffect::kFadeOff},
      // After a blink, the fade chain reads 0x11 with bit 7 set and writes
      // 0xFF back: it is fade that runs, not blink.
      {"fade after blink", {0xFF, 0xFF, 0x00, 0x00, 0x03, 0x0F}, RunningEffect::kFadeOn},
      {"blink after fade", {0xFF, 0xFF, 0x03, 0x0F, 0x03, 0x0F}, RunningEffect::kBlink},
      // The chain's first writes alone start nothing the person chose.
      {"blink, 0x11 not yet", {0xFF, 0x00, 0x03, 0x0F, none, none}, RunningEffect::kNone},
      {"fade, levels not yet", {0xFF, 0x7F, 0x00, 0x00, 0x01, 0x00}, RunningEffect::kNone},
      // A brightness write stops every effect (0x00 to the effect control).
      {"stopped by brightness", {0x00, 0x80, 0x03, 0x0F, none, none}, RunningEffect::kNone},
      // GPIO inputs (0x04 <- 0xFF 0xFF) are no effect's direction.
      {"gpio inputs", {0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x0F}, RunningEffect::kNone},
      // After a reset nothing is known: the page must not claim anything runs.
      {"after a reset", {}, RunningEffect::kNone},
  };
  for (const Case& c : cases) EXPECT_EQ(EffectRunning(c.r), c.expected) << c.what;
}
