// The brightness dial laid out for work areas of every common shape: the
// page and its path scale together, so the gap at the bottom stays open and
// the knob rides the drawn track for 0, 128 and 255.
#include <gtest/gtest.h>

#include <QLabel>

#include <cmath>

#include "pages/BrightnessDial.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/Scaling.h"

namespace {

struct WorkArea {
  int width, height;
};

TEST(DialLayoutTest, TheGapStaysOpenAndTheKnobOnItsTrackOnEveryWorkArea) {
  const WorkArea areas[] = {{1280, 720},  {1366, 728},  {1920, 1000}, {1920, 1040}, {1920, 1200},
                            {2560, 1080}, {2560, 1400}, {3440, 1400}, {3840, 2160}, {1440, 900}};
  for (const WorkArea& a : areas) {
    SCOPED_TRACE(std::to_string(a.width) + " x " + std::to_string(a.height));
    // As the main window sets them for this work area.
    g_scaleX = a.width / 1920.0;
    g_scaleY = a.height / 1040.0;
    g_baseRatioX = g_scaleX;
    CSetBrightnessLevel page;
    page.InitDialog();
    const dial::Geometry& g = page.Geometry();
    // A gap: the two ends apart by more than a knob, less than a full turn.
    EXPECT_GT(g.endX - g.startX, page.Knob()->width());
    EXPECT_LT(g.sweep, 2 * 3.14159 - 0.3);
    // The knob's corner for 0, 128 and 255 lies on the path's circle, and
    // the knob lies on the face.
    for (int value : {0, 128, 255}) {
      const dial::Point p = dial::KnobForGlide(g, value);
      EXPECT_NEAR(std::hypot(p.x - g.cx, p.y - g.cy), g.radius, 2.0) << value;
      const QRect knob(p.x, p.y, page.Knob()->width(), page.Knob()->height());
      EXPECT_TRUE(page.Face()->geometry().contains(knob)) << value;
      EXPECT_TRUE(page.rect().contains(knob)) << value;
    }
    if (a.width == 2560 && a.height == 1080) uitest::GrabAndSave(&page, QStringLiteral("dial_2560x1080"));
  }
  g_scaleX = g_scaleY = g_baseRatioX = 1.0;
}

}  // namespace
