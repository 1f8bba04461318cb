#include <gtest/gtest.h>

#include "pages/DialGeometry.h"
#include "pages/LedLayoutPage.h"
#include "ui/Scaling.h"

TEST(DialGeometryTest, PathOfA230By140Page) {
  const dial::Geometry g = dial::Compute(0, 0, 230, 140, 1.0);
  EXPECT_EQ(g.radius, 45);
  EXPECT_EQ(g.cx, 110);
  EXPECT_EQ(g.cy, 60);
  EXPECT_EQ(g.gapY, 75);
  EXPECT_EQ(g.startX, 67);
  EXPECT_EQ(g.endX, 152);
  // The ends are 15 pixels below the centre: the path covers 360 - 141 degrees.
  EXPECT_NEAR(g.sweep * 180 / 3.14159265358979, 219.0, 0.5);

  // Value 0 sits on the left end, 255 on the right one, whichever way the knob got there.
  EXPECT_EQ(dial::KnobForGlide(g, 0), (dial::Point{67, 75}));
  const dial::Point glideEnd = dial::KnobForGlide(g, 255);
  const dial::Point wheelEnd = dial::KnobForWheel(g, 255);
  const dial::Point wheelStart = dial::KnobForWheel(g, 0);
  EXPECT_NEAR(glideEnd.x, 152, 1);
  EXPECT_NEAR(glideEnd.y, 75, 1);
  EXPECT_NEAR(wheelEnd.x, 152, 1);
  EXPECT_NEAR(wheelEnd.y, 75, 1);
  EXPECT_NEAR(wheelStart.x, 67, 1);
  EXPECT_NEAR(wheelStart.y, 75, 1);
  // Half way is at the top of the circle's path.
  EXPECT_NEAR(dial::KnobForGlide(g, 128).x, 110, 2);
  EXPECT_NEAR(dial::KnobForGlide(g, 128).y, 15, 2);
}

TEST(DialGeometryTest, APageTooTallForItsGapIsAFullCircle) {
  const dial::Geometry g = dial::Compute(0, 0, 403, 245, 1.0);  // the gap line lies below the circle
  EXPECT_EQ(g.startX, g.cx);
  EXPECT_EQ(g.endX, g.cx);
  EXPECT_FALSE(std::isnan(g.sweep));
  EXPECT_FALSE(std::isnan(g.degPerStep));
  const dial::Drag d = dial::FromPointer(g, g.cx + 10, g.cy - 10);
  EXPECT_GE(d.value, 0);
  EXPECT_LE(d.value, 255);
}

TEST(DialGeometryTest, DraggingMapsThePointerOntoThePath) {
  const dial::Geometry g = dial::Compute(0, 0, 230, 140, 1.0);
  // Over the top is the middle of the range.
  const dial::Drag top = dial::FromPointer(g, 110, 0);
  EXPECT_EQ(top.knob, (dial::Point{110, 15}));
  EXPECT_NEAR(top.value, 128, 2);
  EXPECT_TRUE(top.moveKnob);
  // Below the gap line: 0 on the left, 255 on the right, the knob stays.
  for (const auto& [x, value] : {std::pair{90, 0}, std::pair{60, 0}, std::pair{130, 255}, std::pair{170, 255}}) {
    const dial::Drag d = dial::FromPointer(g, x, 130);
    EXPECT_EQ(d.value, value) << x;
    EXPECT_FALSE(d.moveKnob) << x;
  }
  // Just above the right end the value is near 255 and never wraps round.
  for (int y = 60; y <= 75; ++y) {
    const dial::Drag d = dial::FromPointer(g, 200, y);
    EXPECT_GE(d.value, 200) << y;
    EXPECT_LE(d.value, 255) << y;
  }
  // Just above the left end it is near 0.
  EXPECT_LE(dial::FromPointer(g, 20, 74).value, 15);
}

TEST(DialGeometryTest, GlideWheelSteps) {
  int v = 255, ticks = 0;
  while (v != 0) {
    v = dial::GlideStep(v, 0);
    ++ticks;
  }
  EXPECT_EQ(ticks, 25);  // 15 steps of 15, five of 5, five of 1: 750 ms
  EXPECT_EQ(dial::GlideStep(0, 44), 15);
  EXPECT_EQ(dial::GlideStep(40, 44), 41);
  EXPECT_EQ(dial::GlideStep(44, 44), 44);

  EXPECT_EQ(dial::WheelStep(253, 253, 120), 255);
  EXPECT_EQ(dial::WheelStep(255, 255, 120), 255);
  EXPECT_EQ(dial::WheelStep(3, 3, -120), 0);
  EXPECT_EQ(dial::WheelStep(0, 0, -120), 0);
  EXPECT_EQ(dial::WheelStep(100, 100, 60), 100);  // not a whole notch
  EXPECT_EQ(dial::WheelStep(100, 100, -120), 95);
}

TEST(LedPlacementTest, CellsOnA600PixelPage) {
  g_scaleX = 1.0;
  struct Case {
    int count, led;
    QRect rect;
  };
  const Case cases[] = {
      {16, 0, {36, 150, 60, 60}},  {16, 7, {498, 150, 60, 60}}, {16, 8, {36, 250, 60, 60}},
      {16, 15, {498, 250, 60, 60}}, {10, 0, {24, 150, 50, 50}}, {10, 9, {510, 150, 50, 50}},
      {6, 0, {55, 150, 60, 60}},    {6, 5, {480, 150, 60, 60}},
  };
  for (const Case& c : cases) EXPECT_EQ(CRound_LED_Layout::LedRect(c.led, c.count, 600), c.rect) << c.count << "/" << c.led;
  g_scaleX = 1.5;  // the cells grow with the screen; the rows stay where they are
  EXPECT_EQ(CRound_LED_Layout::LedRect(8, 16, 600), QRect(36, 250, 90, 90));
  g_scaleX = 1.0;
}
