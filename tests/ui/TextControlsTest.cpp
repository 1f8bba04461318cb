// The four text controls: colours behind and of the text, and their fonts.
#include <QAbstractItemView>
#include <QFontInfo>
#include <QLineEdit>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

#include "tests/ui/UiTestSupport.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyEdit.h"
#include "ui/CMyStatic.h"
#include "ui/CMyStaticFont.h"
#include "ui/Scaling.h"

namespace {

using uitest::Describe;
using uitest::Near;

const QColor kDefaultText(85, 85, 85);
const QColor kRed(210, 0, 0);
const QColor kBlue(0, 0, 255);

template <typename Control>
class TextControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    page_ = std::make_unique<QWidget>();
    page_->resize(300, 100);
    control_ = new Control(page_.get());
    control_->setGeometry(10, 10, 200, 40);
    control_->SetCtrlFont(20, 8, 700);
    control_->setText(QStringLiteral("MMMM"));
  }

  static QString Name() { return QString::fromLatin1(Control::staticMetaObject.className()); }

  std::unique_ptr<QWidget> page_;
  Control* control_ = nullptr;
};

using TextControls = ::testing::Types<CMyStatic, CMyStaticFont, CMyEdit>;
TYPED_TEST_SUITE(TextControlTest, TextControls);

TYPED_TEST(TextControlTest, PaintsItsColoursBehindAndInTheText) {
  // Right of the text and inside an edit's frame.
  const QPoint background(190, 20);
  const auto isText = [](QColor colour) { return [colour](QRgb p) { return Near(p, colour, 12); }; };

  QImage image = uitest::GrabAndSave(this->control_, this->Name() + QStringLiteral("_default"));
  EXPECT_TRUE(Near(image.pixel(background), Qt::white, 0)) << Describe(image.pixel(background));
  EXPECT_GT(uitest::CountPixels(image, isText(kDefaultText)), 20);

  this->control_->SetCtrlBkColor(kRed);
  this->control_->SetCtrlTextColor(kBlue);
  image = uitest::GrabAndSave(this->control_, this->Name() + QStringLiteral("_red"));
  EXPECT_TRUE(Near(image.pixel(background), kRed, 0)) << Describe(image.pixel(background));
  EXPECT_GT(uitest::CountPixels(image, isText(kBlue)), 20);
  // The red really is behind the text: inside the text's own box every pixel
  // is red, blue or a blend of the two, never the white of the page.
  const QRect ink = uitest::BoundingBox(image, isText(kBlue));
  ASSERT_FALSE(ink.isEmpty());
  EXPECT_GT(uitest::CountPixels(image, [](QRgb p) { return Near(p, kRed, 0); }, ink), 0);
  EXPECT_EQ(uitest::CountPixels(image, [](QRgb p) { return qGreen(p) > 30; }, ink), 0);
  EXPECT_EQ(this->control_->CtrlBkColor(), kRed);
  EXPECT_EQ(this->control_->CtrlTextColor(), kBlue);
}

TEST(TextControlFonts, StaticHasItsOwnFontOthersInheritUntilSet) {
  QWidget page;
  QFont pageFont(QStringLiteral("DejaVu Sans"));
  pageFont.setPixelSize(9);
  page.setFont(pageFont);
  auto* fixed = new CMyStatic(&page);
  auto* label = new CMyStaticFont(&page);
  auto* edit = new CMyEdit(&page);
  auto* combo = new CMyComboBox(&page);

  EXPECT_EQ(QFontInfo(fixed->font()).family(), QStringLiteral("Liberation Sans"));
  // Arial 11 points at the reference scale; like every font, it follows the
  // screen's scale.
  EXPECT_EQ(fixed->font(), ScaledFont(CMyStatic::kTitleCellHeight, 0, 400));
  g_scaleX = g_scaleY = 2.0;
  EXPECT_EQ(CMyStatic().font(), ScaledFont(CMyStatic::kTitleCellHeight, 0, 400));
  EXPECT_GT(CMyStatic().font().pixelSize(), fixed->font().pixelSize() * 19 / 10);
  g_scaleX = g_scaleY = 1.0;
  for (QWidget* w : std::initializer_list<QWidget*>{label, edit, combo}) EXPECT_EQ(w->font(), pageFont);

  g_scaleX = g_scaleY = 1.5;
  fixed->SetCtrlFont(16, 6, 400);
  label->SetCtrlFont(16, 6, 400);
  edit->SetCtrlFont(16, 6, 400);
  combo->SetCtrlFont(16, 6, 400);
  const QFont expected = ScaledFont(16, 6, 400);
  for (QWidget* w : std::initializer_list<QWidget*>{fixed, label, edit, combo}) EXPECT_EQ(w->font(), expected);
  g_scaleX = g_scaleY = 1.0;
}

// The chosen entry on the white face is drawn in the member text colour: the
// controls' grey unless a page sets another; the face is never the member
// background.
TEST(ComboBox, FaceIsWhiteItsTextAndTheListTakeTheTextColour) {
  QWidget page;
  page.resize(300, 100);
  auto* combo = new CMyComboBox(&page);
  combo->setGeometry(10, 10, 200, 32);
  combo->SetCtrlFont(20, 8, 400);
  combo->addItems({QStringLiteral("MMMM"), QStringLiteral("Fade")});

  const QImage grey = uitest::GrabAndSave(combo, QStringLiteral("CMyComboBox_grey"));
  EXPECT_GT(uitest::CountPixels(grey, [](QRgb p) { return Near(p, QColor(85, 85, 85), 12); }), 20) << "grey text";
  EXPECT_EQ(uitest::CountPixels(grey, [](QRgb p) { return Near(p, Qt::black, 30); }), 0) << "no black text";

  combo->SetCtrlTextColor(kBlue);
  combo->SetCtrlBkColor(kRed);
  const QImage image = uitest::GrabAndSave(combo, QStringLiteral("CMyComboBox"));
  EXPECT_FALSE(combo->isEditable());
  EXPECT_EQ(uitest::CountPixels(image, [](QRgb p) { return Near(p, kRed, 40); }), 0) << "the face is never red";
  EXPECT_GT(uitest::CountPixels(image, [](QRgb p) { return Near(p, kBlue, 60); }), 20) << "face text takes the colour";
  EXPECT_TRUE(Near(image.pixel(100, 4), Qt::white, 3)) << Describe(image.pixel(100, 4));

  const QPalette list = combo->view()->palette();
  EXPECT_EQ(list.color(QPalette::Active, QPalette::Text), kBlue);
  EXPECT_EQ(list.color(QPalette::Active, QPalette::Base), QColor(Qt::white));

  // Should a page make the box editable, its edit part takes both colours.
  combo->setEditable(true);
  combo->grab();  // polishes the new edit part
  ASSERT_NE(combo->lineEdit(), nullptr);
  EXPECT_EQ(combo->lineEdit()->palette().color(QPalette::Active, QPalette::Text), kBlue);
  EXPECT_EQ(combo->lineEdit()->palette().color(QPalette::Active, QPalette::Base), kRed);
}

TEST(ComboBox, ListDropsDownBelowTheBoxOrAboveWithoutRoom) {
  struct Case {
    const char* name;
    int pageTop;  // on the 1040-pixel-high screen
    bool below;
  };
  // The I2C address box sits under the caption band with its last entry
  // chosen; at the foot of the screen there is no room below.
  for (const Case& c : {Case{"under the caption band", 60, true}, Case{"at the foot of the screen", 1040 - 50, false}}) {
    QWidget page;
    page.setGeometry(400, c.pageTop, 300, 50);
    auto* combo = new CMyComboBox(&page);
    combo->setGeometry(10, 10, 200, 30);
    combo->SetCtrlFont(20, 7, 400);
    combo->addItems({QStringLiteral("0x58"), QStringLiteral("0x59"), QStringLiteral("0x5A"), QStringLiteral("0x5B")});
    combo->setCurrentIndex(3);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));

    combo->showPopup();
    QWidget* list = combo->view()->window();
    ASSERT_TRUE(list->isVisible()) << c.name;
    const QRect box(combo->mapToGlobal(QPoint(0, 0)), combo->size());
    const QRect shown = list->geometry();
    EXPECT_FALSE(shown.intersects(box)) << c.name << ": the list covers the box";
    if (c.below) {
      EXPECT_EQ(shown.top(), box.bottom() + 1) << c.name;
    } else {
      EXPECT_EQ(shown.bottom(), box.top() - 1) << c.name;
    }
    EXPECT_EQ(shown.left(), box.left()) << c.name;
    EXPECT_EQ(combo->view()->currentIndex().row(), 3) << c.name;
    combo->hidePopup();
  }
}

}  // namespace
