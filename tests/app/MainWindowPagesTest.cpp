// The pages inside the main window on an identified simulated board: what
// the window itself adds to them. Its status line composes the failure
// replies (the chip address nobody answers at, the waits it ended), Enter goes
// to the page under the pointer, the frame maximises and restores the pages,
// and the caption band opens the simulated board's register and pin panels.
// The pages on their own are tested in tests/pages on a small host.
#include <QAction>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QSlider>
#include <QTableWidget>
#include <QTest>

#include <set>

#include "app/SimPinPanel.h"
#include "app/SimRegisterPanel.h"
#include "app/ToolPages.h"
#include "firmware/BootDialog.h"
#include "chip/ChipAccess.h"
#include "chip/RegisterMap.h"
#include "link/CommandSet.h"
#include "link/LinkHost.h"
#include "pages/BlinkMode.h"
#include "pages/BrightnessDial.h"
#include "pages/EffectPages.h"
#include "pages/EffectPlayDialog.h"
#include "pages/FadeMode.h"
#include "pages/GpioInputPage.h"
#include "pages/GpioOutputPage.h"
#include "pages/GpioPins.h"
#include "pages/LedLayoutPage.h"
#include "pages/RegisterPage.h"
#include "pages/TrafficPage.h"
#include "platform/Messages.h"
#include "resources/dialogs/EffectModeDialogs.h"
#include "resources/dialogs/MainWindowDialog.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "tests/app/IdentifiedBoardFixture.h"
#include "ui/BitmapButton.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyEdit.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyRoundButton.h"
#include "ui/CMyStatic.h"
#include "ui/CMyStaticFont.h"
#include "ui/FocusRing.h"
#include "ui/ReadingOrder.h"
#include "tests/pages/PageGestures.h"

using gestures::Click;
using gestures::TypeIntoDial;
using gestures::Choose;
using gestures::SelectPin;
using gestures::BlinkTimes;
using gestures::FadeTimes;

using namespace dialogs;
using Bytes = std::vector<std::uint8_t>;

class MainWindowPagesTest : public IdentifiedBoardFixture {
 protected:
  CRound_LED_Layout& layout() { return *g_pLayoutPage; }
  CSetBrightnessLevel& dialPage() { return *g_pRoundPage->BrightnessPage(); }
  CQV512XX_Gpio_Input* Input() { return qobject_cast<CQV512XX_Gpio_Input*>(g_pGpioInputPage); }
  CQV512XX_Gpio_Output* Output() { return qobject_cast<CQV512XX_Gpio_Output*>(g_pGpioOutputPage); }
  BlinkMode& blink() { return *qobject_cast<BlinkMode*>(g_pBlinkMode); }
  FadeMode& fade() { return *qobject_cast<FadeMode*>(g_pFadeMode); }
  CRegisterPage& page() { return *g_pRegisterPage; }

  void Clear() { board().ClearDelivered(); }
  // Lets the board answer everything in flight.
  void Settle() { Pump(300); }
  // Waits until the board has carried out `count` register writes.
  std::vector<sim::DeliveredCommand> Writes(std::size_t count) {
    PumpUntil([&] { return Carried(16, 3).size() >= count; }, 3000);
    Pump(50);
    return Carried(16, 3);
  }
  std::vector<Bytes> WritesTo(std::uint8_t reg) {
    std::vector<Bytes> out;
    for (auto& w : RegisterWrites())
      if (w.first == reg) out.push_back(w.second);
    return out;
  }

  // GPIO mode with inputs, as the GPIO box leaves it.
  void SwitchToGpio() {
    QTest::mouseClick(g_pRoundPage->ModeBox(IDC_MODE_GPIO), Qt::LeftButton);
    ASSERT_TRUE(RegisterBecomes(0x12, 0xFF));
    ASSERT_TRUE(RegisterBecomes(0x04, 0xFF));
    ASSERT_NE(Input(), nullptr);
  }
  void SwitchToOutputs() {
    QTest::mouseClick(g_pRoundPage->ModeBox(IDC_DIR_OUTPUT), Qt::LeftButton);
    ASSERT_TRUE(RegisterBecomes(0x04, 0x00));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_NE(Output(), nullptr);
  }
  void ShowRegisterPage() {
    QTest::mouseClick(platform::Control<CMyRectButton>(window, IDC_PAGE_REGISTERS), Qt::LeftButton);
    ASSERT_TRUE(page().isVisible());
  }
};

// Enter over the LED board page writes the brightness at once, pending or not.
TEST_F(MainWindowPagesTest, EnterOverTheBoardPageWritesTheBrightnessAtOnce) {
  for (int i = 0; i < 6; ++i) g_ledBrightness[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(10 + i);
  g_bBrightnessPending = 1;
  g_pRoundPage->OnTimer(CRound::kBrightnessTimer);
  ASSERT_EQ(Writes(2).size(), 2u);
  EXPECT_EQ(g_bBrightnessPending, 0);
  board().ClearDelivered();

  cursor = g_pRoundPage->mapToGlobal(g_pRoundPage->rect().center());
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QCoreApplication::sendEvent(window, &enter);
  EXPECT_EQ(Writes(2).size(), 2u);
  EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowPagesTest, AChipAddressNobodyAnswersAtIsNamedInTheStatusLine) {
  // The simulated chip sits at 0x5B: told 0x58, the bridge's transfers
  // reach no chip and each gets the board's failure answer.
  const QString failed = QString::fromUtf8(texts::kStatusReadFailed);
  g_pRoundPage->AddressCombo()->setCurrentIndex(0);
  ASSERT_TRUE(PumpUntil([&] { return !Carried(64, 10).empty(); }, 2000));
  g_ledBrightness.fill(0x33);
  g_bBrightnessPending = 1;
  g_pRoundPage->OnTimer(CRound::kBrightnessTimer);
  ASSERT_TRUE(PumpUntil([&] { return window->StatusLine()->text().startsWith(failed); }, 3000))
      << window->StatusLine()->text().toStdString();
  // The effect control (0x14) and the brightness block (0x20) both fail;
  // the line names whichever came last.
  EXPECT_TRUE(window->StatusLine()->text().contains(
      QRegularExpression(QRegularExpression::escape(failed) +
                         QStringLiteral(" No answer from the chip at 0x58, the address the program sent "
                                        "\\(writing register 0x(14|20)\\)\\. The chip address may be wrong "
                                        "\\(check it\\), or the chip may lack power or be badly connected\\."))))
      << window->StatusLine()->text().toStdString();
  EXPECT_NE(board().Register(0x20), 0x33);

  // Back at the chip's own address the same brightness arrives.
  g_pRoundPage->AddressCombo()->setCurrentIndex(3);
  g_bBrightnessPending = 1;
  g_pRoundPage->OnTimer(CRound::kBrightnessTimer);
  EXPECT_TRUE(RegisterBecomes(0x20, 0x33));
}

TEST_F(MainWindowPagesTest, TheRegisterPanelShowsWhatThePageWrote) {
  app->AddSimulationActions();
  QAction* open = nullptr;
  for (QAction* a : window->actions())
    if (a->text().startsWith(QStringLiteral("Simulated chip registers"))) open = a;
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+R")));
  open->trigger();
  auto* panel = window->findChild<SimRegisterPanel*>();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_TRUE(panel->isWindow());
  // It fits within the work area of its screen, also when it was left low.
  const QRect area = panel->screen()->availableGeometry();
  EXPECT_TRUE(area.contains(panel->frameGeometry())) << panel->frameGeometry().y() << " " << panel->height();
  panel->hide();
  panel->move(area.left() + 50, area.bottom() - 100);
  open->trigger();
  EXPECT_TRUE(area.contains(panel->frameGeometry())) << panel->frameGeometry().y() << " " << panel->height();

  Click(2);
  TypeIntoDial(QStringLiteral("128"));
  ASSERT_TRUE(RegisterBecomes(0x22, 128));
  const int row = panel->RowOf(0x22);
  ASSERT_GE(row, 0);
  ASSERT_TRUE(PumpUntil([&] { return panel->Table()->item(row, 3)->text() == QStringLiteral("0x80  128"); }, 1000));
  EXPECT_EQ(panel->Table()->item(row, 4)->text(), QStringLiteral("128 (50 %)"));
  EXPECT_EQ(panel->Table()->item(row, 1)->text(), QStringLiteral("LED 2 brightness"));
  EXPECT_NE(panel->Table()->item(row, 3)->background(), QBrush());  // just changed: marked
  uitest::GrabAndSave(panel, QStringLiteral("sim_register_panel"));
  open->trigger();  // the same panel again, not a second one
  EXPECT_EQ(window->findChildren<SimRegisterPanel*>().size(), 1);
}

// Tab reaches every control once, in the order a person reads the window
// (the page buttons down the left, then the page row by row), and wherever
// it lands a ring shows it.
TEST_F(MainWindowPagesTest, TabFollowsTheReadingOrderAndTheFocusIsAlwaysShown) {
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  QWidget* round = platform::FindControl(window, IDC_PAGE_ROUND);
  round->setFocus(Qt::TabFocusReason);
  std::vector<QWidget*> visited{round};
  for (int i = 0; i < 200; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* now = QApplication::focusWidget();
    ASSERT_NE(now, nullptr);
    ASSERT_NE(window->Focus()->Around(), nullptr) << "no ring after Tab " << i;
    EXPECT_TRUE(window->Focus()->Around() == now || window->Focus()->Around()->isAncestorOf(now) ||
                now->focusProxy() == window->Focus()->Around())
        << now->metaObject()->className();
    EXPECT_TRUE(window->Focus()->Ring()->isVisible());
    if (now == round) break;
    visited.push_back(now);
  }
  // Every control Tab may stop at, and no other.
  const std::vector<QWidget*> stops = ReadingOrder(window);
  EXPECT_EQ(std::set<QWidget*>(stops.begin(), stops.end()), std::set<QWidget*>(visited.begin(), visited.end()));
  ASSERT_EQ(QApplication::focusWidget(), round) << "Tab did not come round";
  const std::set<QWidget*> once(visited.begin(), visited.end());
  EXPECT_EQ(once.size(), visited.size()) << "a control was reached twice";
  uitest::GrabAndSave(window, QStringLiteral("main_tab_focus"));

  const auto position = [&](QWidget* w) {
    return static_cast<int>(std::find(visited.begin(), visited.end(), w) - visited.begin());
  };
  // Down the left column, then the page: its first row left to right, the
  // mode boxes before the ones below them, the effect pages last.
  const std::vector<QWidget*> inOrder = {
      round,
      platform::FindControl(window, IDC_PAGE_REGISTERS),
      platform::FindControl(window, IDC_SETUP_SAVE),
      platform::FindControl(window, IDC_RECORD),
      g_pRoundPage->BoardButton(IDC_BOARD_QV6031),
      g_pRoundPage->BoardButton(IDC_BOARD_QV6035),
      g_pRoundPage->AddressCombo(),
      g_pRoundPage->ModeBox(IDC_MODE_LED),
      g_pRoundPage->ModeBox(IDC_MODE_GPIO),
      g_pRoundPage->CurrentEdit(),
      g_pRoundPage->CurrentSlider(),
      fade().Button(IDC_FADE_ON),
      blink().GoButton(),
  };
  for (std::size_t i = 0; i + 1 < inOrder.size(); ++i) {
    ASSERT_LT(position(inOrder[i]), static_cast<int>(visited.size())) << i;
    EXPECT_LT(position(inOrder[i]), position(inOrder[i + 1])) << i;
  }
  // A click moves the focus without the ring: the pointer shows where.
  QTest::mouseClick(g_pRoundPage->CurrentEdit(), Qt::LeftButton);
  EXPECT_EQ(window->Focus()->Around(), nullptr);
}

// While "Global Max Current" is not known (after a reset) its slider shows
// no position either: whatever value it holds inside, it looks the same.
TEST_F(MainWindowPagesTest, TheCurrentSliderSaysNotKnownLikeItsField) {
  QSlider* slider = g_pRoundPage->CurrentSlider();
  g_pRoundPage->ResetButton()->click();
  g_pRoundPage->OnTimer(CRound::kBrightnessTimer);
  ASSERT_TRUE(g_pRoundPage->CurrentEdit()->text().isEmpty());
  const auto look = [&](int value) {
    const QSignalBlocker quiet(slider);
    slider->setValue(value);
    return uitest::Grab(slider);
  };
  const QImage at40 = look(40), at10 = look(10);
  EXPECT_EQ(at40, at10) << "the slider shows a position for a current that is not known";
  uitest::GrabAndSave(slider, QStringLiteral("current_slider_not_known"));
  // Written, it is known again and shows where it is.
  g_pRoundPage->CurrentEdit()->setText(QStringLiteral("25"));
  ASSERT_TRUE(RegisterBecomes(0x11, 0x01));
  g_pRoundPage->OnTimer(CRound::kBrightnessTimer);
  EXPECT_NE(uitest::Grab(slider), at10);
  EXPECT_NE(look(40), look(10));
}

// The simulated cable's shortcuts and Ctrl+Q work from the program's other
// windows too.
TEST_F(MainWindowPagesTest, TheCableShortcutsWorkFromEveryWindow) {
  app->AddSimulationActions();
  QTest::mouseClick(window->BootButton(), Qt::LeftButton);
  ASSERT_NE(g_pBootDialog, nullptr);
  g_strEffectMessage = QStringLiteral("   Blink mode is running\uFF01");
  const std::pair<const char*, std::function<QWidget*()>> windows[] = {
      {"update dialog", [] { return static_cast<QWidget*>(g_pBootDialog); }},
      {"effect window", [&] { return static_cast<QWidget*>(CLamp_Effect_Play::Open(window)); }},
  };
  for (const auto& [name, open] : windows) {
    QWidget* w = open();
    w->show();
    QApplication::setActiveWindow(w);
    ASSERT_TRUE(PumpUntil([&] { return QApplication::activeWindow() == w; })) << name;
    QTest::keyClick(w, Qt::Key_U, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(PumpUntil([] { return g_bDevicePresent == 0; })) << name;
    QTest::keyClick(w, Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(PumpUntil([] { return g_bBoardMatched == 1; }, 8000)) << name;
  }
  g_pEffectDialog->OnStop();
}

TEST_F(MainWindowPagesTest, EnterGoesToThePageUnderThePointer) {
  Click(1);
  auto pressEnter = [&] {
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &enter);
  };
  // Over the dial: the typed value is taken (without Enter in the edit itself).
  dialPage().ValueEdit()->setText(QStringLiteral("64"));
  cursor = dialPage().mapToGlobal(dialPage().rect().center());
  pressEnter();
  EXPECT_EQ(g_currentBrightness, 64);
  ASSERT_TRUE(RegisterBecomes(0x21, 64));

  // Over the LED drawing: nothing happens, and the window stays.
  Pump(200);
  Clear();
  g_ledBrightness[0] = 3;
  cursor = layout().mapToGlobal(QPoint(5, 5));
  pressEnter();
  Pump(200);
  EXPECT_TRUE(RegisterWrites().empty());
  EXPECT_TRUE(window->isVisible());

  // Elsewhere over the LED board page: the brightness is written at once.
  cursor = g_pRoundPage->mapToGlobal(QPoint(g_pRoundPage->width() - 20, g_pRoundPage->height() - 60));
  pressEnter();
  ASSERT_TRUE(RegisterBecomes(0x20, 3));
  EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowPagesTest, MaximisedAndRestored) {
  window->ToggleMaximize();
  Pump(100);
  const QRect led0 = layout().LedButton(0)->geometry();
  uitest::GrabAndSave(window, QStringLiteral("led_maximised"));
  EXPECT_GT(layout().width(), 560);
  window->ToggleMaximize();
  Pump(100);
  EXPECT_NE(layout().LedButton(0)->geometry(), led0);
  // The dial stays centred in its host either way.
  const QWidget* host = g_pRoundPage->BrightnessPage()->parentWidget();
  EXPECT_NEAR(g_pRoundPage->BrightnessPage()->geometry().center().x(), host->rect().center().x(), 2);
}

// A read whose answer is lost (here the board's failure reply: the chip is
// asked at an address where none answers) is not waited for any more: the
// reply to a read another page makes afterwards is not taken for it.
TEST_F(MainWindowPagesTest, AfterAFailedReadTheReplyAnotherPageAskedForChangesNothing) {
  SwitchToGpio();
  // The input page: its port 0 read fails, then someone else reads port 0.
  g_i2cAddress = 0x58;
  QTest::mouseClick(Input()->ReadButton(), Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return window->StatusLine()->text().contains(QStringLiteral("read register failed")); }));
  EXPECT_TRUE(window->StatusLine()->text().contains(QStringLiteral("GPIO input"))) << window->StatusLine()->text().toStdString();
  g_i2cAddress = 0x5B;
  board().SetRegister(0x00, 0x5A);
  ASSERT_EQ(chip::ReadChipRegisters(0x00, 1), 1);
  Pump(300);
  EXPECT_EQ(Input()->PortText(0)->text(), QStringLiteral("P0:"));

  // The output page: its read of 0x11 (for the driver type) fails, then the
  // register page reads 0x11: nothing is written back.
  SwitchToOutputs();
  Pump(200);
  board().ClearDelivered();
  g_i2cAddress = 0x58;
  Choose(Output()->ModeCombo(), CQV512XX_Gpio_Output::kPushPull);
  ASSERT_TRUE(PumpUntil([&] { return window->StatusLine()->text().contains(QStringLiteral("GPIO output")); }));
  g_i2cAddress = 0x5B;
  board().SetRegister(0x11, 0x01);
  ASSERT_EQ(chip::ReadChipRegisters(0x11, 1), 1);
  Pump(300);
  EXPECT_TRUE(WritesTo(0x11).empty());
  EXPECT_EQ(board().Register(0x11), 0x01);
}

TEST_F(MainWindowPagesTest, ADrivenInputLightsTheIndicatorWhileItsInterruptIsEnabled) {
  app->AddSimulationActions();
  for (QAction* a : window->actions())
    if (a->text().startsWith(QStringLiteral("Simulated chip registers"))) a->trigger();
  auto* panel = window->findChild<SimRegisterPanel*>();
  ASSERT_NE(panel, nullptr);
  SimPinPanel* pins = panel->Pins();

  ASSERT_NO_FATAL_FAILURE(SwitchToGpio());
  // Drawing pin 3 of this board is P1_3 (its relationship table): its
  // interrupt setting goes to that pin, the one the panel drives as P1_3.
  ASSERT_NO_FATAL_FAILURE(SelectPin(3));
  Choose(Input()->InterruptCombo(), CQV512XX_Gpio_Input::kDisable);
  ASSERT_TRUE(RegisterBecomes(0x07, 0x08));
  EXPECT_EQ(board().Register(0x06), 0x00);
  pins->Refresh();
  EXPECT_EQ(pins->StateLabel(11)->text(), QStringLiteral("in\n1"));
  EXPECT_EQ(pins->StateLabel(3)->text(), QStringLiteral("in, irq\n1"));
  EXPECT_TRUE(pins->StateLabel(11)->toolTip().startsWith(QStringLiteral("P1_3 (drawing pin 3): GPIO input")))
      << pins->StateLabel(11)->toolTip().toStdString();
  QTest::mouseClick(pins->DriveButton(11), Qt::LeftButton);  // P1_3 low: disabled, nothing reported
  EXPECT_EQ(pins->DriveButton(11)->text(), QStringLiteral("low"));
  Pump(300);
  EXPECT_FALSE(g_pRoundPage->InterruptLit());

  Choose(Input()->InterruptCombo(), CQV512XX_Gpio_Input::kEnable);
  ASSERT_TRUE(RegisterBecomes(0x07, 0x00));
  QTest::mouseClick(pins->DriveButton(11), Qt::LeftButton);  // back high: reported
  ASSERT_TRUE(PumpUntil([] { return g_pRoundPage->InterruptLit(); }, 2000));
  EXPECT_EQ(g_pRoundPage->Timers().ArmedTimers().at(CRound::kInterruptTimer), 200u);
  uitest::GrabAndSave(window, QStringLiteral("gpio_interrupt"));
  ASSERT_TRUE(PumpUntil([] { return !g_pRoundPage->InterruptLit(); }, 1000));

  // The page reads what was driven.
  QTest::mouseClick(pins->DriveButton(9), Qt::LeftButton);  // P1_1 low
  QTest::mouseClick(Input()->ReadButton(), Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return Input()->PortText(1)->text() == QStringLiteral("P1D1: 0xfd"); }));
  EXPECT_EQ(Input()->PortText(0)->text(), QStringLiteral("P0D1: 0xff"));

  // Outputs the page sets show in the panel.
  ASSERT_NO_FATAL_FAILURE(SwitchToOutputs());
  ASSERT_NO_FATAL_FAILURE(SelectPin(2));
  Choose(Output()->LevelCombo(), CQV512XX_Gpio_Output::kHighLevel);
  ASSERT_TRUE(RegisterBecomes(0x03, 0x04));  // board 1: pin 2 is bit 2 of 0x03
  pins->Refresh();
  EXPECT_EQ(pins->StateLabel(10)->text(), QStringLiteral("out, od\n1"));
  EXPECT_EQ(pins->StateLabel(11)->text(), QStringLiteral("out, od\n0"));
  uitest::GrabAndSave(panel, QStringLiteral("sim_pin_panel"));
}

// A chain whose step fails (the board's failure reply: the chip is asked at
// an address where none answers) stops there, says which step, and does not
// run on the acknowledgement of a write another page makes afterwards.
TEST_F(MainWindowPagesTest, AChainWhoseStepFailedTakesNoOtherPagesReply) {
  BlinkTimes("315ms", "315ms", "315ms", "315ms");
  FadeTimes("315ms", "315ms");
  Settle();
  struct Case {
    const char* name;
    std::function<void()> start;
    std::uint8_t otherValue;  // what the other page writes to 0x14
  };
  const Case cases[] = {
      {"blink", [&] { blink().GoButton()->click(); }, 0xFF},
      {"fade on", [&] { fade().Button(IDC_FADE_ON)->click(); }, 0x00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Clear();
    g_i2cAddress = 0x58;
    c.start();
    ASSERT_TRUE(PumpUntil([&] { return window->StatusLine()->text().contains(QStringLiteral("read register failed")); }));
    EXPECT_TRUE(window->StatusLine()->text().contains(QString::fromUtf8(c.name) +
                                                      QStringLiteral(": the acknowledgement of register 0x14")))
        << window->StatusLine()->text().toStdString();
    g_i2cAddress = 0x5B;
    ASSERT_EQ(chip::WriteChipRegisters(0x14, std::array{c.otherValue}), 1);
    Settle();
    // The chain's own first write (refused by the board) and the other page's:
    // nothing of the chain after it.
    EXPECT_EQ(RegisterWrites(), (std::vector<RegisterWrite>{{0x14, {0xFF}}, {0x14, {c.otherValue}}}));
    EXPECT_EQ(g_pEffectDialog, nullptr);
  }
}

TEST_F(MainWindowPagesTest, PagesGrowAndShrinkWithTheWindow) {
  ShowRegisterPage();
  QWidget* host = page().parentWidget();
  const QSize normal = page().size();
  window->ToggleMaximize();
  EXPECT_GT(page().width(), normal.width());
  EXPECT_GT(page().height(), normal.height());
  EXPECT_TRUE(host->rect().contains(page().geometry())) << page().geometry().x() << "," << page().geometry().y();
  EXPECT_GT(g_pTrafficPage->width(), normal.width());
  uitest::GrabAndSave(window, QStringLiteral("register_page_maximised"));
  window->ToggleMaximize();
  // Back to its size, give or take the pixel every truncating scale may lose.
  EXPECT_NEAR(page().width(), normal.width(), 1);
  EXPECT_NEAR(page().height(), normal.height(), 1);
}

// Everything the fade chains wrote shows in the simulated chip's register
// window, which the caption band opens.
TEST_F(MainWindowPagesTest, TheRegisterPanelShowsWhatTheFadeChainsWrote) {
  board().SetRegister(0x11, 0x80);
  FadeTimes("315ms", "1260ms");
  Settle();
  fade().Button(IDC_FADE_ON)->click();
  ASSERT_TRUE(Wrote(0x02, {0x03, 0x0F}));
  Settle();
  Clear();
  fade().Button(IDC_FADE_OFF)->click();
  ASSERT_TRUE(Wrote(0x02, {0x00, 0x00}));
  Settle();

  app->AddSimulationActions();
  for (QAction* a : window->actions())
    if (a->text().startsWith(QStringLiteral("Simulated chip registers"))) a->trigger();
  auto* panel = window->findChild<SimRegisterPanel*>();
  ASSERT_NE(panel, nullptr);
  panel->Refresh();
  const auto value = [&](std::uint8_t reg) { return panel->Table()->item(panel->RowOf(reg), 3)->text(); };
  const auto meaning = [&](std::uint8_t reg) { return panel->Table()->item(panel->RowOf(reg), 4)->text(); };
  EXPECT_TRUE(value(0x14).startsWith(QStringLiteral("0xff")));
  EXPECT_EQ(meaning(0x14), QStringLiteral("effect running"));
  EXPECT_TRUE(value(0x15).startsWith(QStringLiteral("0x19")));
  EXPECT_TRUE(value(0x04).startsWith(QStringLiteral("0x00")));
  EXPECT_TRUE(value(0x11).startsWith(QStringLiteral("0xff")));
  EXPECT_TRUE(meaning(0x11).contains(QStringLiteral("fade bits set")));
  EXPECT_TRUE(value(0x02).startsWith(QStringLiteral("0x00")));
  uitest::GrabAndSave(panel, QStringLiteral("effect_register_panel"));
}
