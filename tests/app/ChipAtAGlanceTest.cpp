// What the LED board page shows of the chip without reading hex, against the
// simulated board with the real reader thread: LEDs that glow with the
// brightness the chip holds, the effect periods drawn to scale and what runs,
// the interrupt count and list, the pins' input levels, and which board is
// attached.
#include <QCheckBox>
#include <QTest>

#include "pages/EffectPlayDialog.h"
#include "pages/EffectTimingPlot.h"
#include "pages/InterruptLogView.h"
#include "pages/LedLayoutPage.h"
#include "pages/BlinkMode.h"
#include "pages/FadeMode.h"
#include "pages/GpioInputPage.h"
#include "resources/dialogs/EffectModeDialogs.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "tests/app/IdentifiedBoardFixture.h"
#include "ui/BitmapButton.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyRoundButton.h"
#include "ui/CMyStaticFont.h"

using namespace dialogs;

namespace {

// Pixels of a cell drawn in the glow's colour, and in the grey of a value
// that is not known.
int GlowPixels(const QImage& cell) {
  return uitest::CountPixels(cell, [](QRgb p) { return qRed(p) > 120 && qGreen(p) > 60 && qBlue(p) < qGreen(p) - 40; });
}
int UnknownRimPixels(const QImage& cell) {
  return uitest::CountPixels(cell, [](QRgb p) {
    return uitest::Near(p, QColor(CMyRoundButton::kUnknownRimColour), 12);
  });
}

}  // namespace

class ChipAtAGlanceTest : public IdentifiedBoardFixture {
 protected:
  void TearDown() override {
    if (g_pEffectDialog) delete g_pEffectDialog;
    IdentifiedBoardFixture::TearDown();
  }
  CRound_LED_Layout& layout() { return *g_pLayoutPage; }
  CMyRoundButton* Cell(int i) { return layout().LedButton(i); }
  void Click(int led, Qt::KeyboardModifiers keys = {}) {
    // The page takes the key state from the pointer's last move over a cell.
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 10), Cell(led)->mapToGlobal(QPointF(10, 10)), Qt::NoButton,
                     Qt::NoButton, keys);
    QCoreApplication::sendEvent(Cell(led), &move);
    QTest::mouseClick(Cell(led), Qt::LeftButton, keys, QPoint(10, 10));
    ASSERT_TRUE(PumpUntil([] { return g_bClickPending == 0; }, 1000));
  }
  bool GlowBecomes(int led, int glow) {
    return PumpUntil([&] { return Cell(led)->Glow() == glow; }, 2000);
  }
  CQV512XX_Gpio_Input* Input() { return qobject_cast<CQV512XX_Gpio_Input*>(g_pGpioInputPage); }
  void SwitchToGpio() {
    QTest::mouseClick(g_pRoundPage->ModeBox(IDC_MODE_GPIO), Qt::LeftButton);
    ASSERT_TRUE(RegisterBecomes(0x04, 0xFF));
    ASSERT_NE(Input(), nullptr);
  }
  void ReadInputs(const char* port1Text) {
    QTest::mouseClick(Input()->ReadButton(), Qt::LeftButton);
    ASSERT_TRUE(PumpUntil([&] { return Input()->PortText(1)->text() == QString::fromUtf8(port1Text); }));
  }
  BlinkMode& blink() { return *qobject_cast<BlinkMode*>(g_pBlinkMode); }
  FadeMode& fade() { return *qobject_cast<FadeMode*>(g_pFadeMode); }
};

TEST_F(ChipAtAGlanceTest, LedsGlowWithTheBrightnessTheChipHoldsAndShowWhatIsNotKnown) {
  // Nothing is written at the match: no value is known, no cell lit or dark.
  Pump(200);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Cell(i)->Glow(), CMyRoundButton::kGlowUnknown) << i;
  // A click writes the block: every LED at the page's 255, all lit.
  Click(0);
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(GlowBecomes(i, 255)) << i;
  EXPECT_GT(GlowPixels(uitest::Grab(Cell(0))), 50);

  // The dial's value reaches the chip, and the cell with it.
  Click(2);
  g_currentBrightness = 40;
  ASSERT_TRUE(RegisterBecomes(0x22, 40));
  ASSERT_TRUE(GlowBecomes(2, 40));
  EXPECT_EQ(Cell(1)->Glow(), 255);
  // A Ctrl-click copies LED 2 onto LED 5: that is now visible.
  ASSERT_NO_FATAL_FAILURE(Click(5, Qt::ControlModifier));
  ASSERT_TRUE(RegisterBecomes(0x25, 40));
  ASSERT_TRUE(GlowBecomes(5, 40));
  EXPECT_LT(GlowPixels(uitest::Grab(Cell(5))), GlowPixels(uitest::Grab(Cell(1))) + 1);

  // 0 stays dark.
  Click(3);
  g_currentBrightness = 0;
  ASSERT_TRUE(RegisterBecomes(0x23, 0));
  ASSERT_TRUE(GlowBecomes(3, 0));
  EXPECT_EQ(GlowPixels(uitest::Grab(Cell(3))), 0);
  uitest::GrabAndSave(window, QStringLiteral("glance_led_glow"));

  // After a reset the chip's values are not known: neither dark nor lit.
  g_pRoundPage->ResetButton()->click();
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(GlowBecomes(i, CMyRoundButton::kGlowUnknown)) << i;
  const QImage unknown = uitest::Grab(Cell(0));
  EXPECT_EQ(GlowPixels(unknown), 0);
  EXPECT_GT(UnknownRimPixels(unknown), 20);
  uitest::GrabAndSave(window, QStringLiteral("glance_led_unknown"));

  // Pins in GPIO mode do not glow.
  ASSERT_NO_FATAL_FAILURE(SwitchToGpio());
  ASSERT_TRUE(GlowBecomes(0, CMyRoundButton::kNoGlow));
}

TEST_F(ChipAtAGlanceTest, TheEffectPagesDrawTheirPeriodAndSayWhenItRuns) {
  auto choose = [](CMyComboBox* combo, const char* text) { combo->setCurrentIndex(combo->findText(QString::fromLatin1(text))); };
  choose(blink().TimeCombo(IDC_BLINK_RAMP_ON), "315ms");
  choose(blink().TimeCombo(IDC_BLINK_KEEP_ON), "1260ms");
  choose(blink().TimeCombo(IDC_BLINK_RAMP_OFF), "630ms");
  // Redrawn at the choice, before any timer: keep off is not known yet (the
  // chip's 0x16 was never written), so it gets no time and a "?".
  const auto period = blink().Plot()->Period();
  ASSERT_EQ(period.size(), 4u);
  EXPECT_EQ(period[0].ms, 315);
  EXPECT_EQ(period[1].ms, 1260);
  EXPECT_EQ(period[2].ms, 630);
  EXPECT_EQ(period[3].ms, std::nullopt);
  EXPECT_STREQ(chip::SegmentText(period[3]), "?");
  EXPECT_TRUE(blink().Plot()->RunningText().isEmpty());

  // Fade on: the chain runs on the board, and the page says the chip runs it.
  choose(fade().TimeCombo(IDC_FADE_RAMP_ON), "315ms");
  choose(fade().TimeCombo(IDC_FADE_RAMP_OFF), "2520ms");
  EXPECT_EQ(fade().Plot()->Period()[2].ms, 2520);
  Pump(300);
  fade().Button(IDC_FADE_ON)->click();
  ASSERT_TRUE(Wrote(0x02, {0x03, 0x0F}));
  ASSERT_TRUE(PumpUntil([&] { return fade().Plot()->RunningText() == QStringLiteral("Fade On runs on the chip"); }));
  EXPECT_TRUE(blink().Plot()->RunningText().isEmpty());
  uitest::GrabAndSave(window, QStringLiteral("glance_effect_timing"));
  uitest::GrabAndSave(&fade(), QStringLiteral("glance_fade_page"));

  // A brightness write stops the effect, and the page stops saying so.
  g_currentBrightness = 77;
  ASSERT_TRUE(RegisterBecomes(0x20, 77));
  ASSERT_TRUE(PumpUntil([&] { return fade().Plot()->RunningText().isEmpty(); }));

  // Blink, after fade has set the overlapping bits of 0x11.
  choose(blink().TimeCombo(IDC_BLINK_KEEP_OFF), "315ms");
  Pump(300);
  blink().GoButton()->click();
  ASSERT_TRUE(PumpUntil([&] { return blink().Plot()->RunningText() == QStringLiteral("Blink runs on the chip"); }));
  EXPECT_TRUE(fade().Plot()->RunningText().isEmpty());
  uitest::GrabAndSave(&blink(), QStringLiteral("glance_blink_page"));
}

TEST_F(ChipAtAGlanceTest, InterruptsLatchCountAndNameThePinsThatChanged) {
  ASSERT_NO_FATAL_FAILURE(SwitchToGpio());
  EXPECT_TRUE(g_pRoundPage->InterruptCount()->text().isEmpty());
  EXPECT_TRUE(g_pRoundPage->InterruptClearButton()->isHidden());
  ASSERT_NO_FATAL_FAILURE(ReadInputs("P1D1: 0xff"));

  // Board 1: drawing pin 3 is P1_3, whose interrupt is enabled.
  board().DrivePin(11, false);
  ASSERT_TRUE(PumpUntil([] { return g_pRoundPage->Interrupts().Count() == 1; }, 2000));
  EXPECT_TRUE(g_pRoundPage->InterruptLit());  // the short flash stays
  ASSERT_TRUE(PumpUntil([] { return !g_pRoundPage->InterruptLit(); }, 1000));
  // ...and the count stays lit after it.
  g_pRoundPage->OnTimer(CRound::kBrightnessTimer);
  EXPECT_EQ(g_pRoundPage->InterruptCount()->text(), QStringLiteral("1 new"));
  EXPECT_EQ(g_pRoundPage->InterruptCount()->CtrlTextColor(), QColor(210, 0, 0));
  EXPECT_FALSE(g_pRoundPage->Interrupts().Entries().back().changed);

  // Reading the ports says which pin it was.
  ASSERT_NO_FATAL_FAILURE(ReadInputs("P1D1: 0xf7"));
  ASSERT_TRUE(PumpUntil([] { return g_pRoundPage->Interrupts().Entries().back().changed.has_value(); }, 1000));
  EXPECT_EQ(*g_pRoundPage->Interrupts().Entries().back().changed, 1u << 3);
  EXPECT_TRUE(InterruptLogView::EntryText(g_pRoundPage->Interrupts().Entries().back()).endsWith(QStringLiteral("pin 3 changed")));
  uitest::GrabAndSave(window, QStringLiteral("glance_interrupt_log"));

  // A board that keeps interrupting fills a bounded list; the count goes on.
  for (int i = 0; i < 12; ++i) board().RaiseInterrupt(1);
  ASSERT_TRUE(PumpUntil([] { return g_pRoundPage->Interrupts().Count() == 13; }, 3000));
  EXPECT_EQ(g_pRoundPage->Interrupts().Entries().size(), chip::InterruptLog::kCapacity);
  // Looked at: a click on the indicator.
  QTest::mouseClick(g_pRoundPage->InterruptIndicator(), Qt::LeftButton);
  EXPECT_EQ(g_pRoundPage->InterruptCount()->text(), QStringLiteral("13 in all"));
  // Cleared.
  QTest::mouseClick(g_pRoundPage->InterruptClearButton(), Qt::LeftButton);
  EXPECT_EQ(g_pRoundPage->Interrupts().Count(), 0u);
  EXPECT_TRUE(g_pRoundPage->InterruptCount()->text().isEmpty());
  EXPECT_TRUE(g_pRoundPage->InterruptClearButton()->isHidden());
}

TEST_F(ChipAtAGlanceTest, PinsShowTheLevelsReadByTheBoardsWiring) {
  ASSERT_NO_FATAL_FAILURE(SwitchToGpio());
  // Nothing read yet: no level claimed.
  Pump(50);
  for (int i = 0; i < 6; ++i) EXPECT_FALSE(layout().PinLevels()[static_cast<std::size_t>(i)]) << i;

  // Board 1: pins 0-3 are P1_0-P1_3, pins 4 and 5 are P0_0 and P0_1.
  board().DrivePin(8 + 2, false);  // P1_2: drawing pin 2
  board().DrivePin(1, false);      // P0_1: drawing pin 5
  // Each raises an interrupt; a reading older than an interrupt is not shown.
  ASSERT_TRUE(PumpUntil([] { return g_pRoundPage->Interrupts().Count() == 2; }, 3000));
  ASSERT_NO_FATAL_FAILURE(ReadInputs("P1D1: 0xfb"));
  EXPECT_EQ(Input()->PortText(0)->text(), QStringLiteral("P0D1: 0xfd"));  // the hex stays
  const std::vector<bool> expected = {true, true, false, true, true, false};
  ASSERT_TRUE(PumpUntil(
      [&] {
        for (int i = 0; i < 6; ++i)
          if (layout().PinLevels()[static_cast<std::size_t>(i)] != expected[static_cast<std::size_t>(i)]) return false;
        return true;
      },
      1000));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(layout().PinLevels()[static_cast<std::size_t>(i)], expected[i]) << i;

  // The words are drawn under the pins.
  const QImage page = uitest::GrabAndSave(&layout(), QStringLiteral("glance_pin_levels"));
  uitest::GrabAndSave(window, QStringLiteral("glance_gpio_overview"));
  auto inked = [&](int pin) {
    return uitest::CountPixels(page, [](QRgb p) { return qGray(p) < 200; }, layout().LevelRect(pin));
  };
  EXPECT_GT(inked(0), 10);
  EXPECT_GT(inked(2), 10);
}

TEST_F(ChipAtAGlanceTest, TheBoardAreaNamesTheAttachedBoard) {
  ASSERT_TRUE(PumpUntil(
      [] { return g_pRoundPage->BoardSummary()->text().contains(QStringLiteral("Firmware:")); }, 3000));
  const QStringList lines = g_pRoundPage->BoardSummary()->text().split(QLatin1Char('\n'));
  ASSERT_GE(lines.size(), 4);
  EXPECT_EQ(lines[0], QStringLiteral("Board: QV6033 (id 1)"));
  EXPECT_EQ(lines[1], QStringLiteral("Chip at 0x5B, 400K"));
  EXPECT_EQ(lines[2], QStringLiteral("Firmware: V1.3.0"));
  EXPECT_TRUE(lines[3].startsWith(QStringLiteral("Device: "))) << lines[3].toStdString();

  // Another address is shown as soon as it is chosen.
  g_pRoundPage->AddressCombo()->setCurrentIndex(0);
  ASSERT_TRUE(PumpUntil(
      [] { return g_pRoundPage->BoardSummary()->text().contains(QStringLiteral("Chip at 0x58, 400K")); }, 1000));

  // Unplugged: no board is named any more.
  board().Unplug();
  ASSERT_TRUE(PumpUntil(
      [] { return g_pRoundPage->BoardSummary()->text() == QStringLiteral("Board: none identified"); }, 3000));
}

class ChipAtAGlance128Test : public ChipAtAGlanceTest {
 protected:
  std::uint8_t BoardId() const override { return 128; }
};

TEST_F(ChipAtAGlance128Test, TheBoardWithoutAButtonIsNamedToo) {
  ASSERT_TRUE(PumpUntil(
      [] { return g_pRoundPage->BoardSummary()->text().startsWith(QStringLiteral("Board: QV6034 (id 128)")); }, 3000));
  // Its pins keep pin i on bit i, port 0 first. It works in GPIO mode only,
  // set up when the person chooses it.
  ASSERT_NO_FATAL_FAILURE(SwitchToGpio());
  board().DrivePin(0, false);
  board().DrivePin(15, false);
  ASSERT_TRUE(PumpUntil([] { return g_pRoundPage->Interrupts().Count() == 2; }, 3000));
  ASSERT_NE(Input(), nullptr);
  ASSERT_NO_FATAL_FAILURE(ReadInputs("P1D1: 0x7f"));
  ASSERT_TRUE(PumpUntil([&] { return layout().PinLevels()[0].has_value() && layout().PinLevels()[15].has_value(); }, 1000));
  EXPECT_EQ(layout().PinLevels()[0], false);
  EXPECT_EQ(layout().PinLevels()[1], true);
  EXPECT_EQ(layout().PinLevels()[15], false);
  uitest::GrabAndSave(window, QStringLiteral("glance_board_128"));
}
