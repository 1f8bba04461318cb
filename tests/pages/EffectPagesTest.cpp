// The blink and fade pages on the simulated board with the real reader
// thread: what the time lists write, the warnings, the register chains as the
// board carries them out, the effect dialog, and that replies the pages did
// not ask for change nothing.
#include <functional>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include "pages/BrightnessDial.h"
#include "pages/EffectPlayDialog.h"
#include "chip/ChipAccess.h"
#include "pages/BlinkMode.h"
#include "chip/EffectBlock.h"
#include "chip/EffectChain.h"
#include "pages/EffectPages.h"
#include "pages/FadeMode.h"
#include "chip/RegisterJournal.h"
#include "chip/RegisterMap.h"
#include "link/LinkHost.h"
#include "platform/qt/QtDialogs.h"
#include "resources/dialogs/EffectModeDialogs.h"
#include "tests/pages/PageBoardFixture.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyEdit.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"
#include "ui/PictureEx.h"
#include "tests/pages/PageGestures.h"

using gestures::Choose;
using gestures::BlinkTimes;
using gestures::FadeTimes;

using namespace dialogs;
using Bytes = std::vector<std::uint8_t>;

namespace {

const QColor kReady(255, 120, 120), kStarted(128, 128, 128);

struct Box {
  std::string text, caption;
  platform::MessageIcon icon;
  platform::MessageButtons buttons;
};

}  // namespace

class EffectPagesTest : public PageBoardFixture {
 protected:
  void SetUp() override {
    PageBoardFixture::SetUp();
    platform::SetMessageBoxHook([this](const std::string& text, const std::string& caption, platform::MessageIcon icon,
                                       platform::MessageButtons buttons) {
      asked.push_back({text, caption, icon, buttons});
      return answer;
    });
    ASSERT_NE(g_pBlinkMode, nullptr);
    ASSERT_NE(g_pFadeMode, nullptr);
  }
  void TearDown() override {
    if (g_pEffectDialog) delete g_pEffectDialog;
    PageBoardFixture::TearDown();
  }

  BlinkMode& blink() { return *qobject_cast<BlinkMode*>(g_pBlinkMode); }
  FadeMode& fade() { return *qobject_cast<FadeMode*>(g_pFadeMode); }

  // Lets the board answer everything in flight.
  void Settle() { Pump(300); }
  // The registers written since the last Clear, first register only.
  std::vector<std::uint8_t> WrittenRegisters() {
    std::vector<std::uint8_t> regs;
    for (const auto& w : RegisterWrites()) regs.push_back(w.first);
    return regs;
  }
  // Reads of the chip the board carried out: first registers.
  std::vector<std::uint8_t> ReadRegisters() {
    std::vector<std::uint8_t> regs;
    for (const auto& d : Carried(16, 1))
      if (d.payload.size() >= 6) regs.push_back(d.payload[2]);
    return regs;
  }
  void Clear() { board().ClearDelivered(); }

  std::vector<Box> asked;
  platform::MessageResult answer = platform::MessageResult::Ok;
};

TEST_F(EffectPagesTest, TimeListsWriteTheirBytesAndSetTheActiveMode) {
  for (int id : {IDC_BLINK_RAMP_ON, IDC_BLINK_RAMP_OFF, IDC_BLINK_KEEP_ON, IDC_BLINK_KEEP_OFF}) {
    CMyComboBox* combo = blink().TimeCombo(id);
    ASSERT_EQ(combo->count(), 6);
    EXPECT_EQ(combo->itemText(5), QStringLiteral("5040ms"));
    // Nothing is known of the chip's times at start: the list says so.
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(combo->placeholderText(), QStringLiteral("not known"));
    EXPECT_FALSE(combo->isEditable());
  }
  EXPECT_EQ(blink().GoButton()->FaceColor(), kReady);
  EXPECT_EQ(fade().Button(IDC_FADE_ON)->FaceColor(), kReady);
  EXPECT_EQ(fade().Button(IDC_FADE_OFF)->FaceColor(), kReady);
  uitest::GrabAndSave(g_pRoundPage, QStringLiteral("effect_pages_start"));

  FadeTimes("315ms", "1260ms");
  EXPECT_EQ(g_bFadeActive, 1);
  EXPECT_EQ(g_bBlinkActive, 0);
  EXPECT_TRUE(RegisterBecomes(0x15, 0x19));

  BlinkTimes("315ms", "1260ms", "5040ms", "630ms");
  EXPECT_EQ(g_bBlinkActive, 1);
  EXPECT_EQ(g_bFadeActive, 0);
  EXPECT_TRUE(RegisterBecomes(0x16, 0x15));
  EXPECT_EQ(board().Register(0x15), 0x19);
  // Nothing but the time registers: their acknowledgements start nothing.
  Settle();
  for (std::uint8_t reg : WrittenRegisters()) EXPECT_TRUE(reg == 0x15 || reg == 0x16) << int(reg);
  uitest::GrabAndSave(fade().window(), QStringLiteral("effect_pages_times"));
  uitest::GrabAndSave(&blink(), QStringLiteral("blink_page"));
  uitest::GrabAndSave(&fade(), QStringLiteral("fade_page"));
}

TEST_F(EffectPagesTest, AZeroTimeOnlyWarns) {
  const auto warned = [this] {
    return asked.size() == 1 && asked[0].text == chip::kZeroTimeWarning && asked[0].caption == "Warning" &&
           asked[0].icon == platform::MessageIcon::Question && asked[0].buttons == platform::MessageButtons::Ok;
  };
  BlinkTimes("315ms", "630ms", "1260ms", "0ms");  // keep off left at 0ms
  FadeTimes("630ms", "0ms");                      // fade is the active mode now
  Settle();
  Clear();

  blink().GoButton()->click();
  EXPECT_TRUE(warned());
  EXPECT_EQ(g_bFadeActive, 1);
  EXPECT_EQ(g_bBlinkActive, 0);
  EXPECT_EQ(g_blinkGoCount, 1);
  EXPECT_EQ(blink().GoButton()->FaceColor(), kReady);

  Choose(blink().TimeCombo(IDC_BLINK_KEEP_OFF), "315ms");  // blink active from here
  Settle();
  Clear();
  for (int id : {IDC_FADE_ON, IDC_FADE_OFF}) {
    asked.clear();
    fade().Button(id)->click();
    EXPECT_TRUE(warned()) << id;
    EXPECT_EQ(g_bBlinkActive, 1);
    EXPECT_EQ(g_bFadeActive, 0);
    EXPECT_EQ(g_bFadeOn + g_bFadeOff, 0);
  }
  Settle();
  EXPECT_TRUE(RegisterWrites().empty());

  // The real box, for a person to look at.
  platform::InstallQtDialogs();
  QImage shot;
  QTimer::singleShot(200, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shot = uitest::GrabAndSave(box, QStringLiteral("effect_warning_box"));
      EXPECT_EQ(box->text(), QString::fromLatin1(chip::kZeroTimeWarning));
      EXPECT_EQ(box->windowTitle(), QStringLiteral("Warning"));
      box->accept();
    }
  });
  fade().Button(IDC_FADE_ON)->click();
  EXPECT_FALSE(shot.isNull());
}

TEST_F(EffectPagesTest, BlinkGoThenResetThenBlinkGoAgain) {
  BlinkTimes("315ms", "1260ms", "5040ms", "630ms");
  Settle();
  Clear();

  blink().GoButton()->click();
  EXPECT_EQ(blink().GoButton()->FaceColor(), kStarted);
  EXPECT_EQ(g_blinkGoCount, 2);
  EXPECT_EQ(g_bBlinkActive, 1);
  EXPECT_EQ(g_bFadeActive, 0);

  // The chain runs step by step on the board's answers, then the dialog opens
  // with the animation playing.
  ASSERT_TRUE(PumpUntil([] { return g_pEffectDialog != nullptr; }));
  CLamp_Effect_Play* dialog = g_pEffectDialog;
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->Message()->text(), QStringLiteral("   Blink mode is running\uFF01"));
  EXPECT_TRUE(PumpUntil([&] { return dialog->Picture()->FramesDrawn() >= 2; }));
  EXPECT_EQ(RegisterWrites(), (std::vector<RegisterWrite>{{0x14, {0xFF}}, {0x04, {0x03, 0x0F}}, {0x11, {0x80}}}));
  EXPECT_EQ(ReadRegisters(), (std::vector<std::uint8_t>{0x11}));
  EXPECT_EQ(board().Register(0x11), 0x80);
  // The effect data: board kind 5, effect 2, 44 bytes for the six LEDs.
  ASSERT_TRUE(PumpUntil([&] { return Carried(64, 1).size() == 1; }));
  Bytes upload{5, 2, 44, 0};
  const Bytes block = chip::EffectDataBlock(6);
  upload.insert(upload.end(), block.begin(), block.end());
  EXPECT_EQ(Carried(64, 1)[0].payload, upload);
  uitest::GrabAndSave(host.get(), QStringLiteral("effect_dialog_over_window"));
  uitest::GrabAndSave(dialog, QStringLiteral("effect_dialog"));

  // STOP: the brightness goes back to the chip, the effect stops, the dialog closes.
  Settle();
  Clear();
  dialog->StopButton()->click();
  EXPECT_EQ(g_pEffectDialog, nullptr);
  EXPECT_TRUE(Wrote(0x20, Bytes(6, 0xFF)));
  EXPECT_EQ(RegisterWrites().front(), (RegisterWrite{0x14, {0x00}}));
  EXPECT_EQ(board().Register(0x14), 0x00);

  // The second press asks for the reset; OK resets and leaves a fresh page.
  Settle();
  Clear();
  const QPointer<BlinkMode> first(&blink());
  blink().GoButton()->click();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].text, chip::kBlinkResetQuestion);
  EXPECT_EQ(asked[0].buttons, platform::MessageButtons::OkCancel);
  EXPECT_EQ(g_blinkGoCount, 1);
  EXPECT_TRUE(Wrote(0x7F, {0x00}));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(first.isNull());
  ASSERT_NE(g_pBlinkMode, nullptr);
  EXPECT_EQ(blink().GoButton()->FaceColor(), kReady);
  // The chosen times are kept on the fresh page and written again to the
  // chip, which lost them in the reset; the fade page shows the shared 0x15.
  EXPECT_EQ(blink().TimeCombo(IDC_BLINK_RAMP_ON)->currentText(), QStringLiteral("315ms"));
  EXPECT_EQ(blink().TimeCombo(IDC_BLINK_RAMP_OFF)->currentText(), QStringLiteral("1260ms"));
  EXPECT_EQ(blink().TimeCombo(IDC_BLINK_KEEP_ON)->currentText(), QStringLiteral("5040ms"));
  EXPECT_EQ(blink().TimeCombo(IDC_BLINK_KEEP_OFF)->currentText(), QStringLiteral("630ms"));
  EXPECT_EQ(fade().TimeCombo(IDC_FADE_RAMP_ON)->currentText(), QStringLiteral("315ms"));
  EXPECT_EQ(fade().TimeCombo(IDC_FADE_RAMP_OFF)->currentText(), QStringLiteral("1260ms"));
  ASSERT_TRUE(RegisterBecomes(0x15, chip::TimeByte(1, 3)));
  ASSERT_TRUE(RegisterBecomes(0x16, chip::TimeByte(5, 2)));
  uitest::GrabAndSave(g_pRoundPage, QStringLiteral("blink_after_reset"));

  // The third press starts the effect again with those times: no warning.
  Settle();
  Clear();
  blink().GoButton()->click();
  EXPECT_EQ(asked.size(), 1u);
  EXPECT_TRUE(Wrote(0x14, {0xFF}));
  ASSERT_TRUE(PumpUntil([] { return g_pEffectDialog != nullptr; }));
  EXPECT_EQ(board().Register(0x11), 0x80);
}

// The LED board page stops a running effect once a mode write (0x12) is
// acknowledged; that rule must come back once an effect has ended, by STOP
// or by Fade Off's chain.
TEST_F(EffectPagesTest, TheModeWriteStopsTheEffectAgainOnceAnEffectEnded) {
  BlinkTimes("315ms", "315ms", "315ms", "315ms");
  FadeTimes("315ms", "315ms");
  Settle();
  const std::function<void()> endings[] = {
      [&] {
        blink().GoButton()->click();
        ASSERT_TRUE(PumpUntil([] { return g_pEffectDialog != nullptr; }));
        g_pEffectDialog->StopButton()->click();
      },
      [&] {
        fade().Button(IDC_FADE_OFF)->click();
        ASSERT_TRUE(Wrote(0x02, {0x00, 0x00}));
      },
  };
  for (const auto& end : endings) {
    end();
    Settle();
    EXPECT_EQ(g_bBlinkActive, 0);
    EXPECT_EQ(g_bFadeActive, 0);
    board().SetRegister(0x14, 0xFF);  // the chip runs an effect
    Clear();
    g_pRoundPage->OnModeLed();
    EXPECT_TRUE(RegisterBecomes(0x14, 0x00));
  }
}

TEST_F(EffectPagesTest, CancellingTheResetLeavesEverything) {
  BlinkTimes("315ms", "315ms", "315ms", "315ms");
  blink().GoButton()->click();
  ASSERT_TRUE(PumpUntil([] { return g_pEffectDialog != nullptr; }));
  g_pEffectDialog->StopButton()->click();
  Settle();
  Clear();

  answer = platform::MessageResult::Cancel;
  const QPointer<BlinkMode> page(&blink());
  blink().GoButton()->click();
  ASSERT_EQ(asked.size(), 1u);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(page.isNull());
  EXPECT_EQ(g_blinkGoCount, 2);
  EXPECT_EQ(blink().GoButton()->FaceColor(), kStarted);
  Settle();
  EXPECT_TRUE(RegisterWrites().empty());
}

// The question runs an event loop of its own; whatever happens in it may take
// the page down (another board chosen, say). The handler must not go on with
// a page that is gone.
TEST_F(EffectPagesTest, ThePageMayGoWhileTheResetQuestionIsOpen) {
  g_blinkGoCount = 2;  // as after a first Blink Go
  BlinkTimes("315ms", "315ms", "315ms", "315ms");
  Settle();
  Clear();
  const QPointer<BlinkMode> page(&blink());
  platform::SetMessageBoxHook([&](auto&&...) {
    g_pRoundPage->DestroyBlinkPage();
    delete page.data();  // what the question's event loop would do with the retired page
    return platform::MessageResult::Ok;
  });
  page->OnBlinkGo();
  EXPECT_TRUE(page.isNull());
  EXPECT_EQ(g_blinkGoCount, 2);
  Settle();
  EXPECT_TRUE(RegisterWrites().empty());
}

TEST_F(EffectPagesTest, FadeOnAndOffChainsEndWithTheOutputLevels) {
  board().SetRegister(0x11, 0x80);
  FadeTimes("315ms", "1260ms");
  Settle();
  Clear();

  fade().Button(IDC_FADE_ON)->click();
  EXPECT_EQ(g_bFadeOn, 1);
  EXPECT_EQ(g_bFadeOff, 0);
  ASSERT_TRUE(Wrote(0x02, {0x03, 0x0F}));
  EXPECT_EQ(RegisterWrites(), (std::vector<RegisterWrite>{
                                  {0x14, {0xFF}}, {0x04, {0x00, 0x00}}, {0x11, {0xFF}}, {0x02, {0x03, 0x0F}}}));
  EXPECT_EQ(ReadRegisters(), (std::vector<std::uint8_t>{0x11}));
  EXPECT_EQ(g_pEffectDialog, nullptr);  // fade ends without a word
  Settle();
  Clear();

  fade().Button(IDC_FADE_OFF)->click();
  EXPECT_EQ(g_bFadeOn, 0);
  EXPECT_EQ(g_bFadeOff, 1);
  ASSERT_TRUE(Wrote(0x02, {0x00, 0x00}));
  Settle();
  EXPECT_EQ(RegisterWrites().size(), 4u);
}

// As written, a finished fade ran its whole chain again on every later
// acknowledgement of 0x14 (the LED board page writes 0x14 <- 0x00 before each
// brightness block), and blink wrote every read reply back with bit 7 set.
TEST_F(EffectPagesTest, RepliesThePagesDidNotAskForChangeNothing) {
  FadeTimes("315ms", "315ms");
  fade().Button(IDC_FADE_ON)->click();
  ASSERT_TRUE(Wrote(0x02, {0x03, 0x0F}));
  Settle();
  Clear();

  // Turning the dial after the fade writes the brightness and nothing else.
  auto* dial = g_pRoundPage->BrightnessPage();
  dial->ValueEdit()->setFocus();
  dial->ValueEdit()->selectAll();
  QTest::keyClicks(dial->ValueEdit(), QStringLiteral("100"));
  QTest::keyClick(dial->ValueEdit(), Qt::Key_Return);
  ASSERT_TRUE(PumpUntil([&] { return board().Register(0x20) == 100; }));  // LED 0, the one selected
  Settle();
  EXPECT_EQ(WrittenRegisters(), (std::vector<std::uint8_t>{0x14, 0x20}));

  // With blink active, a read another part of the program makes is not
  // written back.
  Choose(blink().TimeCombo(IDC_BLINK_RAMP_ON), "315ms");
  Settle();
  Clear();
  board().SetRegister(0x00, 0x12);
  ASSERT_EQ(chip::ReadChipRegisters(0x00, 1), 1);
  ASSERT_EQ(chip::ReadChipRegisters(0x11, 1), 1);
  Settle();
  EXPECT_EQ(ReadRegisters(), (std::vector<std::uint8_t>{0x00, 0x11}));
  EXPECT_TRUE(RegisterWrites().empty());
}

// The time lists and the current field follow what the chip holds: the fade
// chain's 0x11 <- 0x7F is the 10 mA range, and a 0x15 or 0x16 written on the
// Registers page shows on the blink and fade pages.
TEST_F(EffectPagesTest, TheControlsFollowWritesFromElsewhere) {
  FadeTimes("315ms", "315ms");
  fade().Button(IDC_FADE_ON)->click();
  ASSERT_TRUE(Wrote(0x02, {0x03, 0x0F}));
  ASSERT_TRUE(PumpUntil([] { return g_pRoundPage->CurrentEdit()->text() == QStringLiteral("10"); }))
      << g_pRoundPage->CurrentEdit()->text().toStdString();

  ASSERT_EQ(chip::WriteChipRegisters(0x15, std::array{chip::TimeByte(2, 4)}), 1);  // as the Registers page does
  ASSERT_EQ(chip::WriteChipRegisters(0x16, std::array{chip::TimeByte(5, 1)}), 1);
  ASSERT_TRUE(PumpUntil([&] { return blink().TimeCombo(IDC_BLINK_RAMP_ON)->currentText() == QStringLiteral("630ms"); }));
  EXPECT_EQ(blink().TimeCombo(IDC_BLINK_RAMP_OFF)->currentText(), QStringLiteral("2520ms"));
  EXPECT_EQ(blink().TimeCombo(IDC_BLINK_KEEP_ON)->currentText(), QStringLiteral("5040ms"));
  EXPECT_EQ(blink().TimeCombo(IDC_BLINK_KEEP_OFF)->currentText(), QStringLiteral("315ms"));
  EXPECT_EQ(fade().TimeCombo(IDC_FADE_RAMP_ON)->currentText(), QStringLiteral("630ms"));
  EXPECT_EQ(fade().TimeCombo(IDC_FADE_RAMP_OFF)->currentText(), QStringLiteral("2520ms"));
  Settle();
  Clear();
  Settle();
  EXPECT_TRUE(RegisterWrites().empty());  // shown, not written again
}

// Escape and the window manager's close are STOP too: no way of closing the
// window leaves the effect running with nothing left to stop it.
TEST_F(EffectPagesTest, EveryWayOfClosingTheEffectWindowStopsTheEffect) {
  const std::pair<const char*, std::function<void(CLamp_Effect_Play*)>> ways[] = {
      {"STOP", [](CLamp_Effect_Play* d) { d->StopButton()->click(); }},
      {"Escape", [](CLamp_Effect_Play* d) { QTest::keyClick(d, Qt::Key_Escape); }},
      {"window manager", [](CLamp_Effect_Play* d) { d->close(); }},
  };
  for (const auto& [name, close] : ways) {
    g_strEffectMessage = QString::fromUtf8(chip::kBlinkRunningMessage);
    g_bBlinkActive = 1;
    CLamp_Effect_Play* dialog = CLamp_Effect_Play::Open(host.get());
    Settle();
    Clear();
    close(dialog);
    EXPECT_EQ(g_pEffectDialog, nullptr) << name;
    EXPECT_EQ(g_bBlinkActive, 0) << name;
    EXPECT_TRUE(Wrote(0x20, Bytes(6, 0xFF))) << name;
    ASSERT_FALSE(RegisterWrites().empty()) << name;
    EXPECT_EQ(RegisterWrites().front(), (RegisterWrite{0x14, {0x00}})) << name;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

TEST_F(EffectPagesTest, StopWithoutAMatchedBoardWritesNothing) {
  g_strEffectMessage = QString::fromUtf8(chip::kBlinkRunningMessage);
  CLamp_Effect_Play* dialog = CLamp_Effect_Play::Open(host.get());
  g_bBoardMatched = 0;  // before the board's answer to the upload could match it again
  Clear();
  dialog->StopButton()->click();
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(g_pEffectDialog, nullptr);
  Settle();
  EXPECT_TRUE(RegisterWrites().empty());
}
