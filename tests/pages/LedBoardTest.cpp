// The LED board page, its LED layout and the brightness dial, driven as a
// person would (clicks, keys, the wheel) against the simulated board with the
// real reader thread: what ends up in the simulated chip's registers.
#include <QAction>
#include <QCheckBox>
#include <QKeyEvent>
#include <QTableWidget>
#include <QLineEdit>
#include <QSlider>
#include <QApplication>
#include <QTest>
#include <QWheelEvent>

#include "pages/BrightnessDial.h"
#include "pages/LedLayoutPage.h"
#include "chip/RegisterMap.h"
#include "platform/Messages.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "tests/pages/PageBoardFixture.h"
#include "ui/BitmapButton.h"
#include "ui/CMyEdit.h"
#include "ui/CMyRoundButton.h"
#include "ui/CMyStatic.h"
#include "ui/CMyStaticFont.h"
#include "tests/pages/PageGestures.h"

using gestures::Click;
using gestures::TypeIntoDial;

using namespace dialogs;
using Bytes = std::vector<std::uint8_t>;

class LedBoardTest : public PageBoardFixture {
 protected:
  CRound_LED_Layout& layout() { return *g_pLayoutPage; }
  CSetBrightnessLevel& dialPage() { return *g_pRoundPage->BrightnessPage(); }

  void Clear() { board().ClearDelivered(); }
};

TEST_F(LedBoardTest, ClickAnLedAndTurnTheDial) {
  Click(2);
  EXPECT_EQ(g_selectedLed, 2);
  EXPECT_TRUE(layout().LedButton(2)->Selected());
  EXPECT_FALSE(layout().LedButton(0)->Selected());

  TypeIntoDial(QStringLiteral("128"));
  ASSERT_TRUE(RegisterBecomes(0x22, 128));
  // The effect control is stopped before the block, and the other LEDs keep theirs.
  const auto writes = RegisterWrites();
  ASSERT_GE(writes.size(), 2u);
  // The click itself may already have sent a block (of unchanged values):
  // look at the one that carried the new value.
  const auto block = std::find_if(writes.begin(), writes.end(),
                                  [](const auto& w) { return w.first == 0x20 && w.second.size() > 2 && w.second[2] == 128; });
  ASSERT_NE(block, writes.end());
  ASSERT_NE(block, writes.begin());
  EXPECT_EQ(*(block - 1), (std::pair<std::uint8_t, Bytes>{0x14, {0x00}}));
  EXPECT_EQ(block->second, (Bytes{0xFF, 0xFF, 128, 0xFF, 0xFF, 0xFF}));

  // The knob glides there; the value and percentage show at once.
  EXPECT_EQ(dialPage().ValueEdit()->text(), QStringLiteral("128"));
  ASSERT_TRUE(PumpUntil([] { return g_dialDisplayed == 128; }, 2000));
  EXPECT_EQ(dialPage().PercentText()->text(), QStringLiteral("50%"));
  uitest::GrabAndSave(host.get(), QStringLiteral("led_dial_128"));

  // Typed values past the top are the top, not their low eight bits.
  TypeIntoDial(QStringLiteral("300"));
  EXPECT_EQ(g_currentBrightness, 255);
  ASSERT_TRUE(RegisterBecomes(0x22, 255));
  ASSERT_TRUE(PumpUntil([] { return g_dialDisplayed == 255; }, 2000));
  uitest::GrabAndSave(dialPage().window(), QStringLiteral("led_dial_255"));

  // The wheel: five steps a notch, and nothing past the top.
  QWheelEvent up(QPointF(50, 50), dialPage().mapToGlobal(QPointF(50, 50)), {}, QPoint(0, 120), Qt::NoButton,
                 Qt::NoModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(&dialPage(), &up);
  EXPECT_EQ(g_currentBrightness, 255);
  QWheelEvent down(QPointF(50, 50), dialPage().mapToGlobal(QPointF(50, 50)), {}, QPoint(0, -120), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(&dialPage(), &down);
  EXPECT_EQ(g_currentBrightness, 250);
  EXPECT_EQ(g_dialDisplayed, 250);  // no gliding
  ASSERT_TRUE(RegisterBecomes(0x22, 250));

  TypeIntoDial(QStringLiteral("0"));
  ASSERT_TRUE(RegisterBecomes(0x22, 0));
  ASSERT_TRUE(PumpUntil([] { return g_dialDisplayed == 0; }, 2000));
  uitest::GrabAndSave(host.get(), QStringLiteral("led_dial_0"));
}

// The value field behaves as a field: one click places the caret without
// taking what is half typed, and Escape abandons the typing instead of
// reaching the window it sits in (which would close with the pointer elsewhere).
TEST_F(LedBoardTest, TheDialValueTakesAClickAndEscapeAsAFieldDoes) {
  Click(1);
  ASSERT_TRUE(PumpUntil([] { return g_dialDisplayed == 255; }, 2000));
  Clear();
  CMyEdit* edit = dialPage().ValueEdit();
  host->activateWindow();
  // A single click at the field's right end, as a person starts typing.
  QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(edit->width() - 2, edit->height() / 2));
  EXPECT_TRUE(edit->hasFocus());
  edit->selectAll();
  QTest::keyClicks(edit, QStringLiteral("12"));
  // A click inside the field to move the caret does not write the 12.
  QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(edit->width() - 2, edit->height() / 2));
  EXPECT_EQ(g_currentBrightness, 255);
  EXPECT_TRUE(edit->hasFocus());
  QTest::keyClicks(edit, QStringLiteral("5"));
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(g_currentBrightness, 125);
  ASSERT_TRUE(RegisterBecomes(0x21, 125));
  const auto writes = RegisterWrites();
  EXPECT_FALSE(std::any_of(writes.begin(), writes.end(), [](const auto& w) {
    return w.first == 0x20 && w.second.size() > 1 && w.second[1] == 12;
  }));

  // Escape: the typed text goes, the value is the one set, and the key goes
  // no further than the field (a window would close on it).
  edit->selectAll();
  QTest::keyClicks(edit, QStringLiteral("7"));
  QTest::keyClick(edit, Qt::Key_Escape);
  EXPECT_EQ(std::count(host->keysReached.begin(), host->keysReached.end(), Qt::Key_Escape), 0);
  EXPECT_EQ(edit->text(), QStringLiteral("125"));
  EXPECT_EQ(g_currentBrightness, 125);
}

// Leaving LED mode (or choosing another board) clears the LED state; a
// Shift-built selection went on receiving the dial's values unseen.
TEST_F(LedBoardTest, ClearingTheLedStateClearsAShiftBuiltSelection) {
  Click(1);
  Click(3, Qt::ShiftModifier);
  ASSERT_EQ(g_bMultiSelection, 1);
  g_pRoundPage->OnModeGpio();
  g_pRoundPage->OnModeLed();
  Pump(200);
  // Only LED 0 is shown selected: the one the dial acts on now.
  for (int led = 0; led < 6; ++led) EXPECT_EQ(layout().LedButton(led)->Selected(), led == 0) << led;
  Clear();
  TypeIntoDial(QStringLiteral("50"));
  Pump(300);
  EXPECT_NE(board().Register(0x21), 50);
  EXPECT_NE(board().Register(0x23), 50);
}

// After a software reset the chip's brightness registers hold what its reset
// gives them, which the program does not know: the dial says so instead of
// 255 / 100 %, until the user sets a value.
TEST_F(LedBoardTest, AfterAResetTheDialDoesNotClaimABrightness) {
  Click(0);
  ASSERT_TRUE(PumpUntil([&] { return dialPage().ValueKnown(); }));
  EXPECT_EQ(dialPage().ValueEdit()->text(), QStringLiteral("255"));
  QTest::mouseClick(g_pRoundPage->ResetButton(), Qt::LeftButton);
  ASSERT_TRUE(RegisterBecomes(0x7F, 0x00));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_TRUE(PumpUntil([&] { return !dialPage().ValueKnown(); }));
  EXPECT_EQ(dialPage().ValueEdit()->text(), QString());
  EXPECT_EQ(dialPage().PercentText()->text(), QStringLiteral("?"));
  EXPECT_FALSE(dialPage().Knob()->isVisible());
  uitest::GrabAndSave(host.get(), QStringLiteral("led_after_reset"));

  TypeIntoDial(QStringLiteral("100"));
  ASSERT_TRUE(RegisterBecomes(0x20, 100));
  // The dial redraws from the chip model on its own timer, which may not
  // have run since the board took the value.
  EXPECT_TRUE(PumpUntil([&] { return dialPage().ValueKnown(); }, 1000));
  EXPECT_EQ(dialPage().ValueEdit()->text(), QStringLiteral("100"));
  EXPECT_TRUE(dialPage().Knob()->isVisible());
}

// The reset is the last thing the reset button writes: the fresh dial's 255
// is the page's own start, not a value for the chip. The dial says "?", and
// a wheel notch on "?" neither shows a value nor writes one.
TEST_F(LedBoardTest, AResetWritesNothingAfterItselfAndTheDialStaysUnknown) {
  Click(0);
  TypeIntoDial(QStringLiteral("40"));
  ASSERT_TRUE(RegisterBecomes(0x20, 40));
  Pump(200);
  board().ClearDelivered();
  QTest::mouseClick(g_pRoundPage->ResetButton(), Qt::LeftButton);
  ASSERT_TRUE(RegisterBecomes(0x7F, 0x00));
  Pump(400);
  const auto writes = RegisterWrites();
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes.back().first, 0x7F) << writes.size() << " writes; last from " << int(writes.back().first);
  ASSERT_TRUE(PumpUntil([&] { return !dialPage().ValueKnown(); }));
  board().ClearDelivered();
  QWheelEvent notch(QPointF(60, 60), QPointF(60, 60), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(&dialPage(), &notch);
  Pump(300);
  EXPECT_FALSE(dialPage().ValueKnown());
  EXPECT_EQ(dialPage().PercentText()->text(), QStringLiteral("?"));
  EXPECT_TRUE(RegisterWrites().empty());
}

TEST_F(LedBoardTest, ABrightnessChangeNotYetSentDiesWithTheReset) {
  // The click's brightness goes out on the page's next tick; the reset comes
  // first. Nothing written before the reset may reach the chip after it.
  Click(0);
  QTest::mouseClick(g_pRoundPage->ResetButton(), Qt::LeftButton);
  ASSERT_TRUE(RegisterBecomes(0x7F, 0x00));
  Pump(400);
  for (int led = 0; led < g_ledCount; ++led) EXPECT_EQ(board().Register(static_cast<std::uint8_t>(0x20 + led)), 0) << led;
  EXPECT_FALSE(dialPage().ValueKnown());
}

TEST_F(LedBoardTest, DraggingTheKnob) {
  Click(4);
  CSetBrightnessLevel& d = dialPage();
  const dial::Geometry& g = d.Geometry();
  QLabel* knob = d.Knob();
  // Press on the knob, move over the top of the dial, release.
  QTest::mousePress(knob, Qt::LeftButton, {}, QPoint(3, 3));
  EXPECT_EQ(g_bDialDragging, 1);
  auto moveTo = [&](QPoint pagePoint) {
    QMouseEvent move(QEvent::MouseMove, QPointF(knob->mapFrom(&d, pagePoint)), knob->mapToGlobal(knob->mapFrom(&d, pagePoint)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(knob, &move);
  };
  moveTo(QPoint(g.cx, g.cy - 3 * g.radius));
  EXPECT_NEAR(g_currentBrightness, 128, 3);
  EXPECT_NEAR(knob->x(), g.cx, 1);
  EXPECT_NEAR(knob->y(), g.cy - g.radius, 1);
  // Below the gap: the right side is the top of the range, the knob stays put.
  const QPoint before = knob->pos();
  moveTo(QPoint(g.cx + 20, g.gapY + 30));
  EXPECT_EQ(g_currentBrightness, 255);
  EXPECT_EQ(knob->pos(), before);
  EXPECT_EQ(d.ValueEdit()->text(), QStringLiteral("255"));
  moveTo(QPoint(g.cx - 20, g.gapY + 30));
  EXPECT_EQ(g_currentBrightness, 0);
  QTest::mouseRelease(knob, Qt::LeftButton, {}, QPoint(3, 3));
  EXPECT_EQ(g_bDialDragging, 0);
  EXPECT_TRUE(d.Timers().IsTimerArmed(CSetBrightnessLevel::kGlideTimer));
  ASSERT_TRUE(RegisterBecomes(0x24, 0));
}

TEST_F(LedBoardTest, ShiftBuildsASelectionAndCtrlClones) {
  Click(1);
  Click(3, Qt::ShiftModifier);
  EXPECT_EQ(g_bMultiSelection, 1);
  EXPECT_EQ(g_selectionCount, 2);
  EXPECT_TRUE(layout().LedButton(1)->Selected());
  EXPECT_TRUE(layout().LedButton(3)->Selected());
  // Over a selected LED with Shift held, the tip offers to remove it; the
  // others offer to add (with the full-width closing parenthesis).
  QMouseEvent hover(QEvent::MouseMove, QPointF(5, 5), layout().LedButton(3)->mapToGlobal(QPointF(5, 5)), Qt::NoButton,
                    Qt::NoButton, Qt::ShiftModifier);
  QCoreApplication::sendEvent(layout().LedButton(3), &hover);
  EXPECT_EQ(layout().LedToolTip(3), QStringLiteral("Remove this LED from Selected LED(s)"));
  EXPECT_EQ(layout().LedToolTip(2), QString::fromUtf8("Add this LED to Selected LED(s\xEF\xBC\x89"));
  uitest::GrabAndSave(host.get(), QStringLiteral("led_multi_selection"));

  TypeIntoDial(QStringLiteral("77"));
  ASSERT_TRUE(RegisterBecomes(0x21, 77));
  ASSERT_TRUE(RegisterBecomes(0x23, 77));
  EXPECT_EQ(board().Register(0x22), 0xFF);

  // Shift-clicking both again empties the selection: the dial then changes no LED.
  Click(1, Qt::ShiftModifier);
  Click(3, Qt::ShiftModifier);
  EXPECT_EQ(g_selectionCount, 0);
  EXPECT_FALSE(layout().LedButton(3)->Selected());
  TypeIntoDial(QStringLiteral("20"));
  Pump(300);
  for (std::uint8_t reg = 0x20; reg < 0x26; ++reg) EXPECT_NE(board().Register(reg), 20) << int(reg);

  // A plain click goes back to one LED; the tips say so again.
  Click(2);
  EXPECT_EQ(g_bMultiSelection, 0);
  EXPECT_EQ(layout().LedToolTip(5), QStringLiteral("Select only this LED"));
  TypeIntoDial(QStringLiteral("100"));
  ASSERT_TRUE(RegisterBecomes(0x22, 100));

  // Ctrl-click on 5 copies LED 2 onto it; LED 2 stays the selected one.
  Click(5, Qt::ControlModifier);
  EXPECT_EQ(g_ledBrightness[5], 100);
  EXPECT_EQ(g_selectedLed, 2);
  EXPECT_TRUE(layout().LedButton(2)->Selected());
  EXPECT_EQ(g_currentBrightness, 100);
  ASSERT_TRUE(RegisterBecomes(0x25, 100));
}

TEST_F(LedBoardTest, ModeAndDirectionBoxes) {
  // Start from LED mode, so that GPIO has something to switch from.
  QTest::mouseClick(g_pRoundPage->ModeBox(IDC_MODE_LED), Qt::LeftButton);
  ASSERT_TRUE(Wrote(0x12, {0x00, 0x00}));
  ASSERT_TRUE(Wrote(0x14, {0x00}));  // after the acknowledged mode write
  EXPECT_TRUE(g_pRoundPage->ModeBox(IDC_MODE_LED)->isChecked());
  EXPECT_FALSE(g_pRoundPage->ModeBox(IDC_DIR_INPUT)->isEnabled());
  board().SetRegister(0x12, 0x55);
  board().SetRegister(0x13, 0x55);

  Clear();
  QTest::mouseClick(g_pRoundPage->ModeBox(IDC_MODE_GPIO), Qt::LeftButton);
  ASSERT_TRUE(RegisterBecomes(0x12, 0xFF));
  EXPECT_EQ(board().Register(0x13), 0xFF);
  EXPECT_EQ(g_pBrightnessPage, nullptr);
  EXPECT_TRUE(g_pRoundPage->ModeBox(IDC_DIR_OUTPUT)->isEnabled());
  EXPECT_TRUE(g_pRoundPage->RelationshipText()->isVisible());
  EXPECT_TRUE(g_pRoundPage->RelationshipText()->text().startsWith(QStringLiteral("GPIO Realtionship Table\n0---OUT0")));
  Pump(200);
  uitest::GrabAndSave(host.get(), QStringLiteral("led_gpio_mode"));

  QTest::mouseClick(g_pRoundPage->ModeBox(IDC_DIR_OUTPUT), Qt::LeftButton);
  ASSERT_TRUE(Wrote(0x04, {0x00, 0x00}));
  EXPECT_TRUE(g_pRoundPage->ModeBox(IDC_DIR_OUTPUT)->isChecked());
  EXPECT_FALSE(g_pRoundPage->ModeBox(IDC_DIR_INPUT)->isChecked());
  QTest::mouseClick(g_pRoundPage->ModeBox(IDC_DIR_INPUT), Qt::LeftButton);
  ASSERT_TRUE(RegisterBecomes(0x04, 0xFF));
  EXPECT_EQ(board().Register(0x05), 0xFF);

  Clear();
  QTest::mouseClick(g_pRoundPage->ModeBox(IDC_MODE_LED), Qt::LeftButton);
  ASSERT_TRUE(RegisterBecomes(0x12, 0x00));
  EXPECT_EQ(board().Register(0x13), 0x00);
  ASSERT_NE(g_pBrightnessPage, nullptr);
  EXPECT_FALSE(g_pRoundPage->RelationshipText()->isVisible());
  ASSERT_TRUE(Wrote(0x14, {0x00}));
}

TEST_F(LedBoardTest, GlobalMaxCurrent) {
  QLineEdit* edit = g_pRoundPage->CurrentEdit();
  edit->selectAll();
  QTest::keyClicks(edit, QStringLiteral("25"));
  ASSERT_TRUE(RegisterBecomes(0x11, 0x01));
  EXPECT_EQ(g_pRoundPage->CurrentSlider()->value(), 25);

  // Too much: refused with the box, replaced by 40 (code 0), never read as its low byte.
  board().SetRegister(0x11, 0x77);
  edit->setText(QStringLiteral("260"));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "error data!!!");
  EXPECT_EQ(edit->text(), QStringLiteral("40"));
  ASSERT_TRUE(RegisterBecomes(0x11, 0x00));
  EXPECT_EQ(g_pRoundPage->CurrentSlider()->value(), 40);

  // Text that is no number changes nothing.
  Clear();
  edit->setText(QStringLiteral("x"));
  edit->setText(QString());
  Pump(200);
  EXPECT_TRUE(RegisterWrites().empty());

  // The slider writes through the edit.
  g_pRoundPage->CurrentSlider()->setValue(10);
  EXPECT_EQ(edit->text(), QStringLiteral("10"));
  ASSERT_TRUE(RegisterBecomes(0x11, 0x03));
}

TEST_F(LedBoardTest, SoftwareResetRebuildsThePagesAndResetsTheChip) {
  QTest::mouseClick(g_pRoundPage->ModeBox(IDC_MODE_LED), Qt::LeftButton);
  g_pRoundPage->CurrentEdit()->setText(QStringLiteral("20"));
  const CPage* dialBefore = g_pBrightnessPage;
  board().SetRegister(0x22, 9);
  Clear();
  QTest::mouseClick(g_pRoundPage->ResetButton(), Qt::LeftButton);
  ASSERT_TRUE(Wrote(0x7F, {0x00}));
  EXPECT_EQ(board().Register(0x22), 0x00);  // the simulated chip really reset
  EXPECT_NE(g_pBrightnessPage, nullptr);
  EXPECT_NE(g_pBrightnessPage, dialBefore);
  EXPECT_EQ(g_pRoundPage->CurrentEdit()->text(), QStringLiteral("40"));
  EXPECT_FALSE(g_pRoundPage->ModeBox(IDC_MODE_LED)->isChecked());
  EXPECT_FALSE(g_pRoundPage->ModeBox(IDC_MODE_GPIO)->isChecked());
  // The old dial is gone once control is back in the event loop.
  QPointer<const CPage> old(dialBefore);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(old.isNull());
}

TEST_F(LedBoardTest, InterruptReportLightsTheIndicatorFor200Ms) {
  EXPECT_FALSE(g_pRoundPage->InterruptLit());
  board().RaiseInterrupt(1);
  ASSERT_TRUE(PumpUntil([] { return g_pRoundPage->InterruptLit(); }, 2000));
  EXPECT_EQ(g_pRoundPage->Timers().ArmedTimers().at(CRound::kInterruptTimer), 200u);
  uitest::GrabAndSave(host.get(), QStringLiteral("led_interrupt"));
  ASSERT_TRUE(PumpUntil([] { return !g_pRoundPage->InterruptLit(); }, 1000));
  EXPECT_FALSE(g_pRoundPage->Timers().IsTimerArmed(CRound::kInterruptTimer));

  // A report whose first byte is not 1 lights nothing.
  board().RaiseInterrupt(0);
  Pump(200);
  EXPECT_FALSE(g_pRoundPage->InterruptLit());
}

// The other boards' drawings.
class LedBoard10Test : public LedBoardTest {
 protected:
  std::uint8_t BoardId() const override { return 3; }
};
class LedBoard16Test : public LedBoardTest {
 protected:
  std::uint8_t BoardId() const override { return 0; }
};

TEST_F(LedBoard10Test, TenLedsInOneRow) {
  EXPECT_EQ(g_ledCount, 10);
  EXPECT_TRUE(layout().LedButton(9)->isVisible());
  EXPECT_FALSE(layout().LedButton(10)->isVisible());
  EXPECT_EQ(layout().LedButton(9)->y(), layout().LedButton(0)->y());
  uitest::GrabAndSave(host.get(), QStringLiteral("led_board_10"));
  Click(9);
  TypeIntoDial(QStringLiteral("33"));
  ASSERT_TRUE(RegisterBecomes(0x29, 33));
}

TEST_F(LedBoard16Test, SixteenLedsInTwoRowsAndNoEffectPages) {
  EXPECT_EQ(g_ledCount, 16);
  EXPECT_TRUE(layout().LedButton(15)->isVisible());
  EXPECT_GT(layout().LedButton(8)->y(), layout().LedButton(7)->y());
  EXPECT_EQ(g_pBlinkMode, nullptr);
  EXPECT_EQ(g_pFadeMode, nullptr);
  uitest::GrabAndSave(host.get(), QStringLiteral("led_board_16"));
  QTest::mouseClick(g_pRoundPage->ModeBox(IDC_MODE_GPIO), Qt::LeftButton);
  EXPECT_TRUE(g_pRoundPage->RelationshipText()->text().contains(QStringLiteral("15---P0_7")));
  Pump(100);
  uitest::GrabAndSave(host.get(), QStringLiteral("led_board_16_gpio"));
}
