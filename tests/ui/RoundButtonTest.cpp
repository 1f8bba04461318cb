// CMyRoundButton: the LED cell. Disc colour and inverse caption, the
// two-character caption, the caption size rule and the selected shadow.
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

#include "tests/ui/UiTestSupport.h"
#include "ui/BoardState.h"
#include "ui/CMyRoundButton.h"
#include "ui/Scaling.h"

namespace {

using uitest::Describe;
using uitest::Near;

// A square cell: disc (3, 0, 54, 54), shadow (0, 0, 60, 60).
constexpr int kSize = 60;
// Inside the disc, left of any caption.
const QPoint kDiscProbe(10, 27);

class RoundButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    page_ = std::make_unique<QWidget>();
    page_->resize(200, 200);
  }
  void TearDown() override {
    g_ledCount = 6;
    g_ratioX = 1.0;
  }

  CMyRoundButton* MakeCell(const QString& caption, const QColor& colour, bool selected = false) {
    auto* cell = new CMyRoundButton(caption, page_.get());
    cell->resize(kSize, kSize);
    cell->SetButtonColor(colour);
    cell->SetSelected(selected);
    return cell;
  }

  std::unique_ptr<QWidget> page_;
};

struct DiscCase {
  const char* name;
  QColor colour;
  QColor disc;
  QColor ink;
};
// Names the case in test listings and ctest.
void PrintTo(const DiscCase& c, std::ostream* os) { *os << c.name; }

class RoundButtonDiscTest : public RoundButtonTest, public ::testing::WithParamInterface<DiscCase> {};

TEST_P(RoundButtonDiscTest, DiscInButtonColourCaptionInverse) {
  const DiscCase& c = GetParam();
  CMyRoundButton* cell = MakeCell(QStringLiteral("35"), c.colour);
  const QImage image = uitest::GrabAndSave(cell, QStringLiteral("round_button_%1").arg(c.name));

  EXPECT_TRUE(Near(image.pixel(kDiscProbe), c.disc)) << Describe(image.pixel(kDiscProbe));
  EXPECT_GT(uitest::CountPixels(image, [&](QRgb p) { return Near(p, c.ink, 10); }), 10)
      << "no caption pixels in the inverse colour";
  // Outside the disc the cell is plain white, with no shadow while unselected.
  for (QPoint p : {QPoint(0, 0), QPoint(kSize - 1, kSize - 1), QPoint(kSize / 2, kSize - 3), QPoint(1, 27)})
    EXPECT_TRUE(Near(image.pixel(p), Qt::white, 0)) << p.x() << "," << p.y() << " " << Describe(image.pixel(p));
}

INSTANTIATE_TEST_SUITE_P(
    Colours, RoundButtonDiscTest,
    ::testing::Values(DiscCase{"red", QColor(255, 0, 0), QColor(255, 0, 0), QColor(0, 255, 255)},
                      DiscCase{"azure", QColor(0, 128, 255), QColor(0, 128, 255), QColor(255, 127, 0)},
                      // A page's colour with no alpha must still give a solid cell.
                      DiscCase{"transparent_red", QColor(255, 0, 0, 0), QColor(255, 0, 0), QColor(0, 255, 255)}));

TEST_F(RoundButtonTest, SelectedCellCastsAGreyShadowMostlyBelow) {
  CMyRoundButton* plain = MakeCell(QStringLiteral("35"), QColor(255, 0, 0));
  CMyRoundButton* selected = MakeCell(QStringLiteral("35"), QColor(255, 0, 0), true);
  const QImage before = uitest::Grab(plain);
  const QImage image = uitest::GrabAndSave(selected, QStringLiteral("round_button_selected"));

  const auto darkness = [](QRgb p) { return 255 - qGray(p); };
  const auto isShadow = [](QRgb p) {
    // A neutral grey: the fade is in alpha, not towards black or the disc colour.
    return qRed(p) < 250 && qAbs(qRed(p) - qGreen(p)) <= 2 && qAbs(qGreen(p) - qBlue(p)) <= 2;
  };

  // Below the disc (rows 54..59) the shadow fades from the solid grey to white.
  const int x = kSize / 2;
  EXPECT_LT(qGray(image.pixel(x, 55)), 140) << Describe(image.pixel(x, 55));
  EXPECT_GE(qGray(image.pixel(x, 55)), 80 - 2);
  for (int y = 55; y < kSize - 1; ++y)
    EXPECT_LE(qGray(image.pixel(x, y)), qGray(image.pixel(x, y + 1))) << "row " << y;
  for (int y = 54; y < kSize; ++y) {
    EXPECT_TRUE(isShadow(image.pixel(x, y))) << "row " << y << " " << Describe(image.pixel(x, y));
    EXPECT_TRUE(Near(before.pixel(x, y), Qt::white, 0) || y == 54) << "unselected row " << y;
  }
  // Beside the disc it is at most faint.
  EXPECT_GT(darkness(image.pixel(x, 55)), 3 * darkness(image.pixel(1, 27)));
  // The corners stay outside the shadow ellipse.
  EXPECT_TRUE(Near(image.pixel(0, 0), Qt::white, 0));
  EXPECT_TRUE(Near(image.pixel(kSize - 1, kSize - 1), Qt::white, 0));
  // The disc is still painted over the shadow.
  EXPECT_TRUE(Near(image.pixel(kDiscProbe), QColor(255, 0, 0))) << Describe(image.pixel(kDiscProbe));
}

TEST_F(RoundButtonTest, CaptionShowsOnlyTheFirstTwoCharacters) {
  const QImage three = uitest::GrabAndSave(MakeCell(QStringLiteral("123"), Qt::red), QStringLiteral("round_button_123"));
  const QImage two = uitest::Grab(MakeCell(QStringLiteral("12"), Qt::red));
  const QImage one = uitest::Grab(MakeCell(QStringLiteral("1"), Qt::red));
  EXPECT_EQ(three, two);
  EXPECT_NE(three, one) << "the comparison would not see a missing character";
}

class RoundButtonCaptionSizeTest : public RoundButtonTest, public ::testing::WithParamInterface<int> {};

// On every board: a caption of fixed size is lost in a disc drawn for a
// large screen.
TEST_P(RoundButtonCaptionSizeTest, CaptionFollowsTheLayoutOnEveryBoard) {
  g_ratioX = 1.5;
  g_ledCount = GetParam();
  EXPECT_DOUBLE_EQ(CMyRoundButton::CaptionPointSize(false), 14.0 * 1.5);
  EXPECT_DOUBLE_EQ(CMyRoundButton::CaptionPointSize(true), 19.0 * 1.5);
}

INSTANTIATE_TEST_SUITE_P(LedCounts, RoundButtonCaptionSizeTest, ::testing::Values(6, 8, 10, 16));

TEST_F(RoundButtonTest, PaintedCaptionGrowsWithSelectionAndLayout) {
  const auto isCaption = [](QRgb p) { return Near(p, QColor(0, 255, 255), 60); };
  const auto inkHeight = [&](CMyRoundButton* cell) {
    return uitest::BoundingBox(uitest::Grab(cell), isCaption).height();
  };

  const int regular = inkHeight(MakeCell(QStringLiteral("35"), Qt::red));
  const int selected = inkHeight(MakeCell(QStringLiteral("35"), Qt::red, true));
  g_ratioX = 1.5;
  g_ledCount = 16;
  CMyRoundButton* large = MakeCell(QStringLiteral("35"), Qt::red);
  uitest::GrabAndSave(large, QStringLiteral("round_button_16_leds"));
  const int scaled = inkHeight(large);

  // Digit height is about 0.72 em: 14 pt is ~13 px of ink, 19 pt ~18, 21 pt ~20.
  EXPECT_NEAR(regular, 13, 2);
  EXPECT_NEAR(selected, 18, 2);
  EXPECT_NEAR(scaled, 20, 2);
}

}  // namespace
