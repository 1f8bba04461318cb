// The effect dialog and the program's animation (GIF resource 189), without a
// board: its look, the picture playing beside the message, and STOP.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTest>

#include "pages/BoardGlobals.h"
#include "pages/EffectPlayDialog.h"
#include "chip/EffectChain.h"
#include "platform/qt/DialogTemplate.h"
#include "resources/dialogs/EffectPlayDialog.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"
#include "ui/GifSplitter.h"
#include "ui/PictureEx.h"

namespace {

QByteArray ProgramGif() {
  QFile file(QStringLiteral(":/Gif/189"));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  return file.readAll();
}

}  // namespace

TEST(EffectAnimationTest, TheProgramsGifIsEightFramesOf48By48) {
  const QByteArray raw = ProgramGif();
  ASSERT_TRUE(raw.startsWith("GIF89a"));
  // The looping block and a comment, as the control must step over them.
  EXPECT_TRUE(raw.contains(QByteArray("\x21\xFF\x0BNETSCAPE2.0", 14)));
  EXPECT_TRUE(raw.contains(QByteArray("\x21\xFE", 2)));
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(raw.constData()), static_cast<std::size_t>(raw.size()));
  const auto screen = gif::ReadScreen(bytes);
  ASSERT_TRUE(screen);
  for (const auto& slice : gif::SplitFrames(bytes, *screen)) {
    EXPECT_EQ(bytes[slice.start + 1], 0xF9) << "every frame has a graphic control extension";
    EXPECT_EQ(slice.delay, 10);
  }

  CPictureEx pic;
  ASSERT_TRUE(pic.LoadFromResource(QString::fromLatin1(CLamp_Effect_Play::kPictureResource),
                                   QString::fromLatin1(CLamp_Effect_Play::kPictureType)));
  EXPECT_EQ(pic.ImageSize(), QSize(48, 48));
  ASSERT_EQ(pic.Frames().size(), 8u);
  for (const auto& frame : pic.Frames()) {
    EXPECT_EQ(frame.rect, QRect(0, 0, 48, 48));
    EXPECT_EQ(gif::FrameWait(frame.delay).count(), 100);
    EXPECT_EQ(frame.disposal, 0);
  }
  // The frames differ (something moves), and after the eighth the first is
  // drawn again.
  EXPECT_NE(pic.Frames()[0].picture, pic.Frames()[1].picture);
  pic.Show();
  ASSERT_TRUE(uitest::PumpUntil([&] { return pic.FramesDrawn() >= 9; }));
  EXPECT_EQ(pic.Canvas().convertToFormat(QImage::Format_RGB32),
            pic.Frames()[0].picture.convertToFormat(QImage::Format_RGB32));
}

class EffectDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { g_strEffectMessage = QString::fromUtf8(chip::kBlinkRunningMessage); }
  void TearDown() override {
    if (g_pEffectDialog) delete g_pEffectDialog;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
};

TEST_F(EffectDialogTest, MessagePictureAndStop) {
  CLamp_Effect_Play* dialog = CLamp_Effect_Play::Open(nullptr);
  ASSERT_EQ(dialog, g_pEffectDialog);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(dialog->isModal());
  EXPECT_EQ(CLamp_Effect_Play::Open(nullptr), dialog) << "one at a time";
  // The dialog's face at its layout size, with a drawn edge and shadow beside
  // it that set it off from the white page below.
  EXPECT_EQ(dialog->Shadow().Face().size(), QSize(750, 301));
  EXPECT_GT(dialog->Shadow().Width(), 0);
  EXPECT_EQ(dialog->size(), QSize(750, 301) + QSize(dialog->Shadow().Width(), dialog->Shadow().Width()));

  EXPECT_EQ(dialog->Message()->text(), QStringLiteral("   Blink mode is running\uFF01"));
  CMyRectButton* stop = dialog->StopButton();
  EXPECT_EQ(stop->text(), QStringLiteral("STOP"));
  EXPECT_EQ(stop->FaceColor(), QColor(255, 0, 0));
  EXPECT_EQ(stop->TextColor(), QColor(Qt::white));
  EXPECT_TRUE(stop->HoverEnabled());
  EXPECT_EQ(stop->HoverTextColor(), QColor(255, 0, 0));
  EXPECT_TRUE(stop->FontSet());

  // The picture: control 2100, 48 x 48, left of the message, playing.
  CPictureEx* pic = dialog->Picture();
  ASSERT_NE(pic, nullptr);
  EXPECT_EQ(platform::ControlId(pic), dialogs::IDC_EFFECT_PICTURE);
  EXPECT_EQ(pic->size(), QSize(48, 48));
  const QRect text = dialog->Message()->geometry();
  EXPECT_EQ(pic->x(), text.left() - 80);
  EXPECT_EQ(pic->y(), text.top() - 1);
  EXPECT_TRUE(uitest::PumpUntil([&] { return pic->IsAnimating(); }));

  // Two moments of the animation, for a person to look at.
  ASSERT_TRUE(uitest::PumpUntil([&] { return pic->FramesDrawn() >= 2; }));
  const int first = pic->CurrentFrame();
  const QImage a = uitest::GrabAndSave(dialog, QStringLiteral("effect_dialog_frame_a"));
  ASSERT_TRUE(uitest::PumpUntil([&] { return pic->CurrentFrame() == (first + 3) % 8; }));
  const QImage b = uitest::GrabAndSave(dialog, QStringLiteral("effect_dialog_frame_b"));
  EXPECT_NE(a.copy(pic->geometry()), b.copy(pic->geometry()));
  EXPECT_EQ(a.copy(text), b.copy(text));

  // No link, no board: nothing is uploaded or written, and STOP still closes.
  EXPECT_EQ(dialog->UploadEffect(), 0);
  QTest::mouseClick(stop, Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_EQ(g_pEffectDialog, nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // it deletes itself, worker and all
}
