// CMyRectButton: the face colours it picks for itself, the disabled look that
// outlives re-enabling, the hover band and the caption.
#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "tests/ui/UiTestSupport.h"
#include "ui/CMyRectButton.h"

namespace {

using uitest::Describe;
using uitest::Near;

constexpr int kW = 160;
constexpr int kH = 50;
// Inside the face, clear of the rounded corners and of any caption.
const QPoint kFaceProbe(8, kH / 2);
const QRect kCaptionArea(20, 10, kW - 40, kH - 20);

const QColor kPaleFace(224, 238, 238);
const QColor kTeal(32, 200, 200);
const QColor kGrey(232, 232, 232);
const QColor kBlue(0, 90, 160);
const QColor kRed(255, 0, 0);

bool IsDark(QRgb p) { return qGray(p) < 100; }
bool IsWhite(QRgb p) { return Near(p, Qt::white, 1); }
bool IsReddish(QRgb p) { return qRed(p) > 180 && qGreen(p) < 80 && qBlue(p) < 80; }

// The pointer as the window system delivers it to a widget with mouse
// tracking on.
void MoveTo(QWidget* widget, QPoint pos) {
  QMouseEvent move(QEvent::MouseMove, QPointF(pos), QPointF(widget->mapToGlobal(pos)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &move);
}

class RectButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    page_ = std::make_unique<QWidget>();
    page_->resize(300, 200);
    button_ = new CMyRectButton(QStringLiteral("Connect"), page_.get());
    button_->setGeometry(10, 10, kW, kH);
  }

  std::unique_ptr<QWidget> page_;
  CMyRectButton* button_ = nullptr;
};

struct FaceCase {
  const char* name;
  std::function<void(CMyRectButton*)> setup;
  QColor expectedFace;
};
// Names the case in test listings and ctest.
void PrintTo(const FaceCase& c, std::ostream* os) { *os << c.name; }

class RectButtonFaceTest : public RectButtonTest, public ::testing::WithParamInterface<FaceCase> {};

TEST_P(RectButtonFaceTest, FaceColourFollowsCheckedUntilAColourIsSet) {
  const FaceCase& c = GetParam();
  c.setup(button_);
  const QImage image = uitest::GrabAndSave(button_, QStringLiteral("rect_button_%1").arg(c.name));

  const QRgb face = image.pixel(kFaceProbe);
  EXPECT_TRUE(Near(face, c.expectedFace)) << Describe(face);
  // The outline is drawn in the normal face colour too: the straight edge
  // pixels carry it.
  EXPECT_TRUE(Near(image.pixel(kW / 2, 0), c.expectedFace, 40)) << Describe(image.pixel(kW / 2, 0));
  // The caption is there, in the (default black) caption colour.
  EXPECT_GT(uitest::CountPixels(image, IsDark, kCaptionArea), 20);
}

INSTANTIATE_TEST_SUITE_P(
    Faces, RectButtonFaceTest,
    ::testing::Values(FaceCase{"unset", [](CMyRectButton*) {}, kPaleFace},
                      FaceCase{"checked", [](CMyRectButton* b) { b->SetChecked(true); }, kTeal},
                      FaceCase{"unchecked_again",
                               [](CMyRectButton* b) {
                                 b->SetChecked(true);
                                 b->grab();  // painted teal once
                                 b->SetChecked(false);
                               },
                               kPaleFace},
                      FaceCase{"colour_beats_checked",
                               [](CMyRectButton* b) {
                                 b->SetButtonColor(kBlue);
                                 b->SetChecked(true);
                               },
                               kBlue}));

TEST_F(RectButtonTest, DisablingGreysTheButtonAndEnablingDoesNotRestoreIt) {
  button_->SetButtonColor(kBlue);
  button_->SetButtonTextColor(Qt::black);

  button_->setEnabled(false);
  QImage image = uitest::GrabAndSave(button_, QStringLiteral("rect_button_disabled"));
  EXPECT_TRUE(Near(image.pixel(kFaceProbe), kGrey)) << Describe(image.pixel(kFaceProbe));
  EXPECT_GT(uitest::CountPixels(image, IsWhite, kCaptionArea), 20) << "caption should be white";
  EXPECT_EQ(uitest::CountPixels(image, IsDark, kCaptionArea), 0);
  EXPECT_TRUE(button_->ColorSet());

  // The page has to give the colour back itself.
  button_->setEnabled(true);
  image = uitest::GrabAndSave(button_, QStringLiteral("rect_button_reenabled"));
  EXPECT_TRUE(Near(image.pixel(kFaceProbe), kGrey)) << Describe(image.pixel(kFaceProbe));
  EXPECT_GT(uitest::CountPixels(image, IsWhite, kCaptionArea), 20);

  button_->SetButtonColor(kBlue);
  image = uitest::GrabAndSave(button_, QStringLiteral("rect_button_recoloured"));
  EXPECT_TRUE(Near(image.pixel(kFaceProbe), kBlue)) << Describe(image.pixel(kFaceProbe));
  // Only the face came back: the caption stays white until the page sets it.
  EXPECT_GT(uitest::CountPixels(image, IsWhite, kCaptionArea), 20);
  EXPECT_EQ(button_->TextColor(), QColor(Qt::white));
}

TEST_F(RectButtonTest, DisablingThePageLeavesTheButtonsColours) {
  // Qt disables the children of a disabled page; if that greyed the buttons
  // they would stay grey after the page is enabled again.
  button_->SetButtonColor(kBlue);
  page_->setEnabled(false);
  page_->setEnabled(true);
  EXPECT_EQ(button_->FaceColor(), kBlue);
  const QImage image = uitest::Grab(button_);
  EXPECT_TRUE(Near(image.pixel(kFaceProbe), kBlue)) << Describe(image.pixel(kFaceProbe));
}

struct HoverCase {
  const char* name;
  QPoint pos;
  bool inside;
};
// Names the case in test listings and ctest.
void PrintTo(const HoverCase& c, std::ostream* os) { *os << c.name; }

class RectButtonHoverTest : public RectButtonTest, public ::testing::WithParamInterface<HoverCase> {};

TEST_P(RectButtonHoverTest, HoverLookOnlyMoreThanTenPixelsInside) {
  const HoverCase& c = GetParam();
  button_->SetButtonColor(kBlue);
  button_->SetButtonTextColor(Qt::black);
  button_->SetButtonHoverTextColor(kRed);
  ASSERT_TRUE(button_->hasMouseTracking()) << "plain moves would never arrive";

  // Start from the opposite state so that the move under test has to change it.
  MoveTo(button_, c.inside ? QPoint(2, 2) : QPoint(kW / 2, kH / 2));
  MoveTo(button_, c.pos);

  EXPECT_EQ(button_->FaceColorNow(), c.inside ? QColor(Qt::white) : kBlue);
  EXPECT_EQ(button_->TextColorNow(), c.inside ? kRed : QColor(Qt::black));
}

// The button is 160 x 50, so the hover rectangle is columns 10..149, rows 10..39.
INSTANTIATE_TEST_SUITE_P(Band, RectButtonHoverTest,
                         ::testing::Values(HoverCase{"centre", {80, 25}, true},
                                           HoverCase{"inner_top_left", {10, 10}, true},
                                           HoverCase{"inner_bottom_right", {149, 39}, true},
                                           HoverCase{"band_left", {9, 25}, false},
                                           HoverCase{"band_right", {150, 25}, false},
                                           HoverCase{"band_top", {80, 9}, false},
                                           HoverCase{"band_bottom", {80, 40}, false}));

TEST_F(RectButtonTest, HoverPaintsWhiteFaceAndHoverCaption) {
  button_->SetButtonColor(kBlue);
  button_->SetButtonTextColor(Qt::black);
  button_->SetButtonHoverTextColor(kRed);
  EXPECT_EQ(button_->cursor().shape(), Qt::PointingHandCursor);

  MoveTo(button_, {kW / 2, kH / 2});
  QImage image = uitest::GrabAndSave(button_, QStringLiteral("rect_button_hover"));
  EXPECT_TRUE(IsWhite(image.pixel(kFaceProbe))) << Describe(image.pixel(kFaceProbe));
  EXPECT_GT(uitest::CountPixels(image, IsReddish, kCaptionArea), 20);

  MoveTo(button_, {4, kH / 2});
  image = uitest::GrabAndSave(button_, QStringLiteral("rect_button_hover_band"));
  EXPECT_TRUE(Near(image.pixel(kFaceProbe), kBlue)) << Describe(image.pixel(kFaceProbe));
  EXPECT_EQ(uitest::CountPixels(image, IsReddish, kCaptionArea), 0);
  EXPECT_GT(uitest::CountPixels(image, IsDark, kCaptionArea), 20);
}

TEST_F(RectButtonTest, WithoutHoverColourMovesChangeNothing) {
  button_->SetButtonColor(kBlue);
  button_->SetButtonTextColor(Qt::black);
  MoveTo(button_, {kW / 2, kH / 2});
  EXPECT_EQ(button_->FaceColorNow(), kBlue);
  EXPECT_EQ(button_->TextColorNow(), QColor(Qt::black));
}

TEST_F(RectButtonTest, CaptionIsCentredInTheChosenFont) {
  const QRect defaultInk = uitest::BoundingBox(uitest::Grab(button_), IsDark);
  button_->SetButtonFont(30, 12, 700);
  EXPECT_TRUE(button_->FontSet());
  const QImage image = uitest::GrabAndSave(button_, QStringLiteral("rect_button_font"));
  const QRect ink = uitest::BoundingBox(image, IsDark);

  ASSERT_FALSE(defaultInk.isEmpty());
  ASSERT_FALSE(ink.isEmpty());
  EXPECT_GT(ink.height(), defaultInk.height() + 4);
  EXPECT_GT(ink.width(), defaultInk.width() + 10);
  for (const QRect& box : {defaultInk, ink}) {
    EXPECT_NEAR(box.center().x(), kW / 2.0, 2.0);
    // "Connect" has no descenders, so its ink sits a little above the middle
    // of the line box that is centred.
    EXPECT_NEAR(box.center().y(), kH / 2.0, 4.0);
  }
}

TEST_F(RectButtonTest, ClickReachesThePage) {
  QSignalSpy clicked(button_, &QAbstractButton::clicked);
  QTest::mouseClick(button_, Qt::LeftButton, Qt::NoModifier, QPoint(kW / 2, kH / 2));
  EXPECT_EQ(clicked.count(), 1);
}

}  // namespace
