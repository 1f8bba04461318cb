// The pages on a small host of the test's own, without the main window or a
// link: what a page asks of its host (marks on the drawing, a reset, the
// status band) reaches the host it was given and nothing else.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <utility>
#include <vector>

#include "chip/ChipAccess.h"
#include "chip/RegisterMap.h"
#include "pages/BlinkMode.h"
#include "pages/BoardGlobals.h"
#include "pages/EffectPages.h"
#include "pages/GpioInputPage.h"
#include "pages/GpioOutputPage.h"
#include "pages/GpioPins.h"
#include "pages/LedLayoutPage.h"
#include "pages/PageHost.h"
#include "pages/RegisterPage.h"
#include "pages/RoundPage.h"
#include "platform/MessageBox.h"
#include "resources/dialogs/EffectModeDialogs.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyRoundButton.h"
#include "ui/StatusSink.h"

namespace {

using Marks = std::vector<std::uint8_t>;

class RecordingHost : public PageHost {
 public:
  void MarkPins(std::span<const std::uint8_t, chip::kMaxPins> m, gpio::Redraw redraw) override {
    marks.emplace_back(Marks(m.begin(), m.end()), redraw);
  }
  void ResetPages() override { ++resets; }
  void ShowEffectTimes(std::uint8_t ramp, std::uint8_t keep) override { times.emplace_back(ramp, keep); }

  std::vector<std::pair<Marks, gpio::Redraw>> marks;
  int resets = 0;
  std::vector<std::pair<std::uint8_t, std::uint8_t>> times;
};

class RecordingStatus : public StatusSink {
 public:
  void ShowStatus(const QString& text, bool ok) override { texts.emplace_back(text, ok); }
  void ShowNotConnected() override { ++notConnected; }

  std::vector<std::pair<QString, bool>> texts;
  int notConnected = 0;
};

Marks Marked(std::initializer_list<int> pins) {
  Marks m(chip::kMaxPins, 0);
  for (int p : pins) m[static_cast<std::size_t>(p)] = 1;
  return m;
}

class PageHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_ledCount = 16;
    g_selectedBoardId = 128;
    g_selectedLed = 2;
  }
  void TearDown() override { platform::SetMessageBoxHook({}); }

  // A sub-page as the LED board page makes it, on the test's host.
  template <typename Page>
  Page* Make(CRound::SubPage kind) {
    CPage* page = CRound::DefaultSubPageFactories().at(kind)(&parent, host);
    EXPECT_NE(page, nullptr);
    return qobject_cast<Page*>(page);
  }

  QWidget parent;
  RecordingHost host;
};

// Each GPIO page marks its own choices when it starts, when a box is pressed
// (before its list opens) and when a pin's choice changes; the driver type,
// which is not kept per pin, clears the marks.
TEST_F(PageHostTest, GpioPagesMarkPinsThroughTheirHost) {
  auto* input = Make<CQV512XX_Gpio_Input>(CRound::SubPage::kGpioInput);
  ASSERT_NE(input, nullptr);
  ASSERT_EQ(host.marks.size(), 1u);
  EXPECT_EQ(host.marks[0], std::pair(Marked({}), gpio::Redraw::kPlain));
  input->OnInterruptChanged(CQV512XX_Gpio_Input::kDisable);
  ASSERT_EQ(host.marks.size(), 2u);
  EXPECT_EQ(host.marks[1], std::pair(Marked({2}), gpio::Redraw::kMarkSelected));
  QTest::mousePress(input->InterruptCombo(), Qt::LeftButton);
  input->InterruptCombo()->hidePopup();
  ASSERT_EQ(host.marks.size(), 3u);
  EXPECT_EQ(host.marks[2], std::pair(Marked({2}), gpio::Redraw::kPlain));

  host.marks.clear();
  auto* output = Make<CQV512XX_Gpio_Output>(CRound::SubPage::kGpioOutput);
  ASSERT_NE(output, nullptr);
  ASSERT_EQ(host.marks.size(), 1u);
  EXPECT_EQ(host.marks[0], std::pair(Marked({}), gpio::Redraw::kPlain));  // the input page's marks are not its own
  g_selectedLed = 5;
  output->OnOutputLevelChanged(CQV512XX_Gpio_Output::kHighLevel);
  ASSERT_EQ(host.marks.size(), 2u);
  EXPECT_EQ(host.marks[1], std::pair(Marked({5}), gpio::Redraw::kMarkSelected));
  // Choosing the driver type leaves the marks: they show which pins are high.
  QTest::mousePress(output->ModeCombo(), Qt::LeftButton);
  output->ModeCombo()->hidePopup();
  EXPECT_EQ(host.marks.size(), 2u);
  EXPECT_EQ(host.resets, 0);
}

// The second "Blink Go" asks for the reset; confirmed, the blink page asks
// its host to reset the pages and then to show the kept times on the fresh
// ones. Cancelled, nothing is asked.
TEST_F(PageHostTest, BlinkAsksItsHostForTheResetOnlyWhenConfirmed) {
  using namespace dialogs;
  for (const auto answer : {platform::MessageResult::Cancel, platform::MessageResult::Ok}) {
    SCOPED_TRACE(answer == platform::MessageResult::Ok ? "OK" : "Cancel");
    RecordingHost fresh;
    QWidget holder;
    auto* blink = qobject_cast<BlinkMode*>(CRound::DefaultSubPageFactories().at(CRound::SubPage::kBlink)(&holder, fresh));
    ASSERT_NE(blink, nullptr);
    QSignalSpy requested(blink, &BlinkMode::ResetRequested);
    blink->TimeCombo(IDC_BLINK_RAMP_ON)->setCurrentIndex(1);
    blink->TimeCombo(IDC_BLINK_RAMP_OFF)->setCurrentIndex(3);
    blink->TimeCombo(IDC_BLINK_KEEP_ON)->setCurrentIndex(5);
    blink->TimeCombo(IDC_BLINK_KEEP_OFF)->setCurrentIndex(2);
    g_blinkGoCount = 2;  // blink ran once: the next press offers the reset
    platform::SetMessageBoxHook([answer](auto&&...) { return answer; });
    blink->GoButton()->click();
    const bool ok = answer == platform::MessageResult::Ok;
    EXPECT_EQ(requested.count(), ok ? 1 : 0);
    EXPECT_EQ(fresh.resets, ok ? 1 : 0);
    using Times = std::vector<std::pair<std::uint8_t, std::uint8_t>>;
    const Times kept{{chip::TimeByte(1, 3), chip::TimeByte(5, 2)}};
    EXPECT_EQ(fresh.times, ok ? kept : Times{});
    EXPECT_EQ(g_blinkGoCount, ok ? 1 : 2);
  }
}

// The LED board page on a plain widget with a status sink: choosing a chip
// board without a board attached tells the sink; with one attached it asks
// (a signal) for the board query instead.
TEST_F(PageHostTest, TheBoardPageTellsItsStatusSinkOrAsksForTheBoardQuery) {
  for (const int present : {0, 1}) {
    SCOPED_TRACE(present);
    g_bDevicePresent = present;
    QWidget window;
    RecordingStatus status;
    CRound page(&window, &status);
    page.InitDialog();
    QSignalSpy query(&page, &CRound::BoardQueryRequested);
    page.SelectChipBoard(dialogs::IDC_BOARD_QV6033);
    EXPECT_EQ(status.notConnected, present ? 0 : 1);
    EXPECT_EQ(query.count(), present ? 1 : 0);
  }
  g_bDevicePresent = 0;
}

// The LED board page as host of the real GPIO input page: a pin the page
// disables is marked on the drawing, which no window had to find.
TEST_F(PageHostTest, TheBoardPageMarksTheGpioPagesPinsOnItsDrawing) {
  QWidget window;
  CRound page(&window);
  page.InitDialog();
  page.SelectChipBoard(dialogs::IDC_BOARD_QV6034);  // 16 pins, GPIO only
  page.OnModeGpio();                                 // with inputs
  auto* input = qobject_cast<CQV512XX_Gpio_Input*>(g_pGpioInputPage);
  ASSERT_NE(input, nullptr);
  ASSERT_NE(g_pLayoutPage, nullptr);
  g_selectedLed = 7;
  input->OnInterruptChanged(CQV512XX_Gpio_Input::kDisable);
  EXPECT_EQ(g_pLayoutPage->LedButton(7)->ButtonColor(), QColor::fromRgb(gpio::kMarkedPin));
  EXPECT_TRUE(g_pLayoutPage->LedButton(7)->Selected());
  EXPECT_EQ(g_pLayoutPage->LedButton(6)->ButtonColor(), QColor(0, 0, 0));
}

// The register page with no board: its status sink hears "not connected",
// and a confirmed reset is not asked of anyone.
TEST_F(PageHostTest, TheRegisterPageTellsItsStatusSinkWithoutABoard) {
  QWidget window;
  RecordingStatus status;
  CRegisterPage page(&window, &status);
  page.InitDialog();
  QSignalSpy reset(&page, &CRegisterPage::SoftwareResetRequested);
  platform::SetMessageBoxHook([](auto&&...) { return platform::MessageResult::Yes; });
  page.ReadAll();
  EXPECT_EQ(status.notConnected, 1);
  EXPECT_FALSE(page.WriteRegister(chip::kRegSoftwareReset, chip::kSoftwareResetValue));
  EXPECT_EQ(status.notConnected, 2);
  EXPECT_EQ(reset.count(), 0);
}

}  // namespace
