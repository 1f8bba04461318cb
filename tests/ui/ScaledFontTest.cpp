// The font mapping every control relies on: a Windows-style cell height and
// average character width, scaled by the screen and truncated, must come out
// as a Qt font that really has those metrics.
#include <QFontInfo>
#include <QFontMetricsF>
#include <gtest/gtest.h>

#include <cmath>

#include "ui/Scaling.h"

namespace {

struct FontCase {
  const char* name;
  double scaleX, scaleY;
  int height, width, weight;
  int expectCell, expectAvgWidth;  // after scaling and truncation; width 0 = natural
};
// Names the case in test listings and ctest.
void PrintTo(const FontCase& c, std::ostream* os) { *os << c.name; }

class ScaledFontTest : public ::testing::TestWithParam<FontCase> {
 protected:
  void TearDown() override { g_scaleX = g_scaleY = 1.0; }
};

TEST_P(ScaledFontTest, ScaledFontHasTheTruncatedCellHeightAndAverageWidth) {
  const FontCase& c = GetParam();
  g_scaleX = c.scaleX;
  g_scaleY = c.scaleY;

  const QFont font = ScaledFont(c.height, c.width, c.weight);
  const QFontMetricsF metrics(font);

  // The pixel size is a whole em, so the cell lands within half a pixel-em of
  // the target; rounding instead of truncating would be a full pixel off.
  EXPECT_NEAR(metrics.ascent() + metrics.descent(), c.expectCell, 0.6);
  if (c.expectAvgWidth > 0) {
    EXPECT_NEAR(WeightedAverageCharWidth(font), c.expectAvgWidth, 0.25);
  } else {
    EXPECT_EQ(font.stretch(), QFont::AnyStretch);
  }
  EXPECT_EQ(font.weight(), c.weight);
  EXPECT_FALSE(font.italic());
  EXPECT_FALSE(font.underline());
  EXPECT_FALSE(font.strikeOut());
  // "Arial" resolves to its metric twin, not some unrelated fallback.
  EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("Liberation Sans"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScaledFontTest,
    ::testing::Values(
        // The buttons' default caption font on the reference work area.
        FontCase{"reference_20x8", 1.0, 1.0, 20, 8, 500, 20, 8},
        // 2560 x 1400: 26.9 and 10.7 must truncate to 26 and 10.
        FontCase{"qhd_truncates", 2560.0 / 1920, 1400.0 / 1040, 20, 8, 700, 26, 10},
        // A small screen: 22.5 and 9.75 truncate to 22 and 9.
        FontCase{"small_truncates", 1440.0 / 1920, 780.0 / 1040, 30, 13, 400, 22, 9},
        // A width far from the face's own proportions is honoured.
        FontCase{"wide", 1.0, 1.0, 20, 16, 400, 20, 16},
        // Width 0 leaves the face at its natural proportions.
        FontCase{"natural_width", 1.0, 1.0, 16, 0, 400, 16, 0}));

TEST(ScaledFont, WidthIsAverageNotStretchOfQtsOwnAverage) {
  // Arial 20/8 is Arial at its natural width: requesting exactly the face's
  // own average must not squeeze the text.
  const QFont natural = LogicalFont(20, 0, 500, QStringLiteral("Arial"));
  const QFont requested = LogicalFont(20, 8, 500, QStringLiteral("Arial"));
  const QString sample = QStringLiteral("Connect the board");
  EXPECT_NEAR(QFontMetricsF(requested).horizontalAdvance(sample) / QFontMetricsF(natural).horizontalAdvance(sample),
              1.0, 0.05);
}

}  // namespace
