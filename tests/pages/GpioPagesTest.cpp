// The GPIO input and output pages, driven as a person would against the
// simulated board with the real reader thread: what reaches the simulated
// chip, what the pages show, and pins driven on the simulated chip.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QTest>

#include <mutex>

#include "pages/LedLayoutPage.h"
#include "chip/ChipAccess.h"
#include "chip/RegisterJournal.h"
#include "pages/GpioInputPage.h"
#include "pages/GpioOutputPage.h"
#include "pages/GpioPins.h"
#include "link/LinkHost.h"
#include "platform/Messages.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "tests/pages/PageBoardFixture.h"
#include "ui/BitmapButton.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyEdit.h"
#include "ui/CMyStatic.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyRoundButton.h"
#include "ui/CMyStaticFont.h"
#include "tests/pages/PageGestures.h"

using gestures::Choose;
using gestures::SelectPin;

using namespace dialogs;
using Bytes = std::vector<std::uint8_t>;

namespace {
const QColor kMark = QColor::fromRgb(gpio::kMarkedPin);
const QColor kNoMark(0, 0, 0);
}  // namespace

class GpioPagesTest : public PageBoardFixture {
 protected:
  void SetUp() override {
    PageBoardFixture::SetUp();
    corvel::SetTraceSink([this](const std::string& line) {
      std::lock_guard lock(traceMutex);
      traces.push_back(line);
    });
  }
  void TearDown() override {
    corvel::SetTraceSink({});
    PageBoardFixture::TearDown();
  }

  CQV512XX_Gpio_Input* Input() { return qobject_cast<CQV512XX_Gpio_Input*>(g_pGpioInputPage); }
  CQV512XX_Gpio_Output* Output() { return qobject_cast<CQV512XX_Gpio_Output*>(g_pGpioOutputPage); }
  QCheckBox* Box(int id) { return g_pRoundPage->ModeBox(id); }

  // GPIO mode with inputs, as the GPIO box leaves it.
  void SwitchToGpio() {
    QTest::mouseClick(Box(IDC_MODE_GPIO), Qt::LeftButton);
    ASSERT_TRUE(RegisterBecomes(0x12, 0xFF));
    ASSERT_TRUE(RegisterBecomes(0x04, 0xFF));
    ASSERT_NE(Input(), nullptr);
  }
  void SwitchToOutputs() {
    QTest::mouseClick(Box(IDC_DIR_OUTPUT), Qt::LeftButton);
    ASSERT_TRUE(RegisterBecomes(0x04, 0x00));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_NE(Output(), nullptr);
  }
  bool RegisterBecomes(std::uint8_t reg, std::uint8_t value, int timeoutMs = 2000) {
    return PumpUntil([&] { return board().Register(reg) == value; }, timeoutMs);
  }
  std::vector<std::uint8_t> ReadsCarried() {
    std::vector<std::uint8_t> regs;
    for (const auto& d : Carried(16, 1))
      if (d.payload.size() >= 6) regs.push_back(d.payload[2]);
    return regs;
  }
  std::vector<Bytes> WritesTo(std::uint8_t reg) {
    std::vector<Bytes> out;
    for (auto& w : RegisterWrites())
      if (w.first == reg) out.push_back(w.second);
    return out;
  }
  std::string LastTrace(const std::string& prefix) {
    std::lock_guard lock(traceMutex);
    for (auto it = traces.rbegin(); it != traces.rend(); ++it)
      if (it->rfind(prefix, 0) == 0) return *it;
    return {};
  }
  std::vector<int> MarkedPins() {
    std::vector<int> marked;
    for (int i = 0; i < g_ledCount; ++i) {
      const QColor c = g_pLayoutPage->LedButton(i)->ButtonColor();
      EXPECT_TRUE(c == kMark || c == kNoMark) << "pin " << i;
      if (c == kMark) marked.push_back(i);
    }
    return marked;
  }

  std::mutex traceMutex;
  std::vector<std::string> traces;
};

TEST_F(GpioPagesTest, ReadInputStateReadsBothPortsAsAChain) {
  g_bBrightnessPending = 1;
  ASSERT_NO_FATAL_FAILURE(SwitchToGpio());
  // The switch to inputs is not followed by a brightness write.
  EXPECT_EQ(g_bBrightnessPending, 0);
  EXPECT_EQ(Input()->PortText(0)->text(), QStringLiteral("P0:"));
  EXPECT_EQ(Input()->PortText(1)->text(), QStringLiteral("P1:"));
  Pump(250);
  EXPECT_TRUE(WritesTo(0x20).empty());

  struct Case {
    std::uint16_t driven;  // port 0 in the low byte
    const char* port0;
    const char* port1;
  };
  for (const Case& c : {Case{0x00A5, "P0D1: 0xa5", "P1D1: 0x0"}, Case{0x3C05, "P0D1: 0x5", "P1D1: 0x3c"}}) {
    board().DrivePins(c.driven);
    board().ClearDelivered();
    QTest::mouseClick(Input()->ReadButton(), Qt::LeftButton);
    ASSERT_TRUE(PumpUntil([&] { return Input()->PortText(1)->text() == QString::fromUtf8(c.port1); }));
    EXPECT_EQ(Input()->PortText(0)->text(), QString::fromUtf8(c.port0));
    // Port 1 is read once port 0's answer is in, and only then.
    EXPECT_EQ(ReadsCarried(), (std::vector<std::uint8_t>{0x00, 0x01}));
  }
  uitest::GrabAndSave(host.get(), QStringLiteral("gpio_input_read"));
}

// The GPIO pages show what the chip holds, whoever wrote it: the Interrupt box
// the selected pin's setting, the driver type the bit "Global Max Current"
// clears; and after a reset nothing that claims a GPIO mode stays.
TEST_F(GpioPagesTest, ThePagesShowWhatTheChipHolds) {
  SwitchToGpio();
  SelectPin(1);
  Choose(Input()->InterruptCombo(), CQV512XX_Gpio_Input::kDisable);
  ASSERT_TRUE(RegisterBecomes(0x07, 0x02));  // drawing pin 1 is P1_1 on this board
  SelectPin(2);
  ASSERT_TRUE(PumpUntil([&] { return Input()->InterruptCombo()->currentIndex() == CQV512XX_Gpio_Input::kEnable; }));
  SelectPin(1);
  ASSERT_TRUE(PumpUntil([&] { return Input()->InterruptCombo()->currentIndex() == CQV512XX_Gpio_Input::kDisable; }));

  SwitchToOutputs();
  Choose(Output()->ModeCombo(), CQV512XX_Gpio_Output::kPushPull);
  ASSERT_TRUE(RegisterBecomes(0x11, 0x10));
  ASSERT_TRUE(PumpUntil([&] { return Output()->ModeCombo()->currentIndex() == CQV512XX_Gpio_Output::kPushPull; }));
  // "Global Max Current" writes the whole of 0x11: push-pull is gone.
  g_pRoundPage->CurrentEdit()->setText(QStringLiteral("25"));
  ASSERT_TRUE(RegisterBecomes(0x11, 0x01));
  EXPECT_TRUE(PumpUntil([&] { return Output()->ModeCombo()->currentIndex() == CQV512XX_Gpio_Output::kOpenDrain; }))
      << Output()->ModeCombo()->currentText().toStdString();

  // A reset: the mode is not known, so no GPIO page and no relationship table.
  QTest::mouseClick(g_pRoundPage->ResetButton(), Qt::LeftButton);
  ASSERT_TRUE(RegisterBecomes(0x7F, 0x00));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(g_pGpioInputPage, nullptr);
  EXPECT_EQ(g_pGpioOutputPage, nullptr);
  EXPECT_FALSE(g_pRoundPage->RelationshipText()->isVisible());
  EXPECT_FALSE(Box(IDC_MODE_LED)->isChecked());
  EXPECT_FALSE(Box(IDC_MODE_GPIO)->isChecked());
  EXPECT_FALSE(Box(IDC_DIR_INPUT)->isChecked());  // nor is the direction
  EXPECT_FALSE(Box(IDC_DIR_OUTPUT)->isChecked());
  // Nor does the current field claim a range the chip may not hold.
  Pump(300);
  EXPECT_EQ(g_pRoundPage->CurrentEdit()->text(), QString());
  uitest::GrabAndSave(host.get(), QStringLiteral("gpio_after_reset"));
}

TEST_F(GpioPagesTest, TheInputPageActsOnlyOnAnswersToItsOwnReads) {
  ASSERT_NO_FATAL_FAILURE(SwitchToGpio());
  auto reply = [](std::uint8_t reg, Bytes data) {
    Bytes payload{1, 0x5B, reg, static_cast<std::uint8_t>(data.size()), 4, 0};
    payload.insert(payload.end(), data.begin(), data.end());
    return platform::Message{platform::kMsgGpioInputRead, 0, std::make_shared<platform::BytesPayload>(payload)};
  };
  board().ClearDelivered();
  // Someone else's answer, while the page waits for nothing.
  Input()->OnMessage(reply(0x00, {0x77}));
  EXPECT_EQ(Input()->PortText(0)->text(), QStringLiteral("P0:"));

  // The page's own read, left unanswered by the board.
  sim::SimFaults silent;
  silent.silent = true;
  board().SetFaults(silent);
  QTest::mouseClick(Input()->ReadButton(), Qt::LeftButton);
  Input()->OnMessage(reply(0x01, {0x12}));  // another register
  Bytes truncated{1, 0x5B, 0x00, 1, 4, 0};  // announces a byte it does not carry
  Input()->OnMessage({platform::kMsgGpioInputRead, 0, std::make_shared<platform::BytesPayload>(truncated)});
  EXPECT_EQ(Input()->PortText(0)->text(), QStringLiteral("P0:"));
  EXPECT_EQ(Input()->PortText(1)->text(), QStringLiteral("P1:"));
  Input()->OnMessage(reply(0x00, {0x80}));
  EXPECT_EQ(Input()->PortText(0)->text(), QStringLiteral("P0D1: 0x80"));
  board().SetFaults({});
  Pump(100);
  EXPECT_EQ(ReadsCarried(), (std::vector<std::uint8_t>{}));  // the silent board took none of them
}

// Both pages on each kind of board: the bytes they write, the trace line, and
// the pins they mark on the drawing.
struct BoardCase {
  std::uint8_t boardId;
  std::vector<int> disabled;        // "Disable" on the input page
  std::array<std::uint8_t, 2> irq;  // 0x06, 0x07
  std::vector<int> high;            // "high-level" on the output page
  std::array<std::uint8_t, 2> out;  // 0x02, 0x03
  const char* trace;
};

void PrintTo(const BoardCase& c, std::ostream* os) { *os << "board " << int(c.boardId); }

class GpioBoardsTest : public GpioPagesTest, public ::testing::WithParamInterface<BoardCase> {
 protected:
  std::uint8_t BoardId() const override { return GetParam().boardId; }
};

TEST_P(GpioBoardsTest, InterruptAndOutputBytesFollowTheBoardsMapping) {
  const BoardCase& c = GetParam();
  const QString id = QString::number(c.boardId);
  ASSERT_NO_FATAL_FAILURE(SwitchToGpio());

  for (int pin : c.disabled) {
    ASSERT_NO_FATAL_FAILURE(SelectPin(pin));
    Choose(Input()->InterruptCombo(), CQV512XX_Gpio_Input::kDisable);
  }
  ASSERT_TRUE(PumpUntil([&] { return !WritesTo(0x06).empty() && WritesTo(0x06).back() == Bytes(c.irq.begin(), c.irq.end()); }));
  EXPECT_EQ(board().Register(0x07), c.irq[1]);
  EXPECT_EQ(MarkedPins(), c.disabled);
  EXPECT_TRUE(g_pLayoutPage->LedButton(c.disabled.back())->Selected());
  uitest::GrabAndSave(host.get(), QStringLiteral("gpio_input_board_") + id);

  ASSERT_NO_FATAL_FAILURE(SwitchToOutputs());
  EXPECT_TRUE(MarkedPins().empty());
  for (int pin : c.high) {
    ASSERT_NO_FATAL_FAILURE(SelectPin(pin));
    Choose(Output()->LevelCombo(), CQV512XX_Gpio_Output::kHighLevel);
  }
  ASSERT_TRUE(PumpUntil([&] { return WritesTo(0x02).size() == c.high.size(); })) << WritesTo(0x02).size();
  EXPECT_EQ(WritesTo(0x02).back(), Bytes(c.out.begin(), c.out.end()));
  EXPECT_EQ(board().Register(0x02), c.out[0]);
  EXPECT_EQ(board().Register(0x03), c.out[1]);
  EXPECT_EQ(LastTrace("0x02 ="), c.trace);
  EXPECT_EQ(MarkedPins(), c.high);
  // A board whose pins have no output mapping says so on the page.
  EXPECT_EQ(Output()->NoMappingNote()->isVisible(), c.boardId == 128);
  uitest::GrabAndSave(host.get(), QStringLiteral("gpio_output_board_") + id);
}

INSTANTIATE_TEST_SUITE_P(
    Boards, GpioBoardsTest,
    // The interrupt bytes follow the same wiring as the output bytes.
    ::testing::Values(BoardCase{0, {9}, {0x02, 0x00}, {9}, {0x02, 0x00}, "0x02 = 2, 0x03 =  0\n"},
                      BoardCase{1, {0, 5}, {0x02, 0x01}, {3, 5}, {0x02, 0x08}, "0x02 = 2, 0x03 =  8\n"},
                      BoardCase{3, {2, 9}, {0x20, 0x04}, {1, 8}, {0x10, 0x02}, "0x02 = 10, 0x03 =  2\n"},
                      BoardCase{128, {0, 15}, {0x01, 0x80}, {4}, {0x00, 0x00}, "0x02 = 0, 0x03 =  0\n"}),
    [](const auto& info) { return "Board" + std::to_string(info.param.boardId); });

TEST_F(GpioPagesTest, DriverTypeIsChangedByReadModifyWrite) {
  ASSERT_NO_FATAL_FAILURE(SwitchToGpio());
  ASSERT_NO_FATAL_FAILURE(SwitchToOutputs());
  struct Case {
    std::uint8_t before;
    int choice;
    std::uint8_t after;
    const char* trace;
  };
  for (const Case& c : {Case{0x1F, CQV512XX_Gpio_Output::kOpenDrain, 0x0F, "0x11 = f\n"},
                        Case{0x00, CQV512XX_Gpio_Output::kPushPull, 0x10, "0x11 = 10\n"}}) {
    board().SetRegister(0x11, c.before);
    Choose(Output()->ModeCombo(), c.choice);
    ASSERT_TRUE(RegisterBecomes(0x11, c.after)) << c.trace;
    EXPECT_EQ(LastTrace("0x11 ="), c.trace);
  }
}

TEST_F(GpioPagesTest, AnotherReadOf0x11DoesNotRewriteTheDriverType) {
  ASSERT_NO_FATAL_FAILURE(SwitchToGpio());
  ASSERT_NO_FATAL_FAILURE(SwitchToOutputs());
  board().SetRegister(0x11, 0x1F);
  board().ClearDelivered();
  // A read of 0x11 made elsewhere (the blink and fade chains make them): the
  // host hands the answer to the output page too.
  ASSERT_EQ(chip::ReadChipRegisters(0x11, 1), 1);
  ASSERT_TRUE(PumpUntil([&] { return ReadsCarried().size() == 1; }));
  Pump(300);
  EXPECT_TRUE(WritesTo(0x11).empty());
  EXPECT_EQ(board().Register(0x11), 0x1F);

  // The page's own read is written back once, however many answers for 0x11 follow it.
  Choose(Output()->ModeCombo(), CQV512XX_Gpio_Output::kOpenDrain);
  ASSERT_EQ(chip::ReadChipRegisters(0x11, 1), 1);
  ASSERT_TRUE(RegisterBecomes(0x11, 0x0F));
  Pump(300);
  EXPECT_EQ(WritesTo(0x11), (std::vector<Bytes>{{0x0F}}));
}

// The driver type chosen is the one written back, also when the page redraws
// from the chip model (which still holds the old type: the read's own answer
// is noted there just before the page gets it) while the read is on its way.
TEST_F(GpioPagesTest, TheChosenDriverTypeIsWrittenWhateverTheModelShowedMeanwhile) {
  ASSERT_NO_FATAL_FAILURE(SwitchToGpio());
  ASSERT_NO_FATAL_FAILURE(SwitchToOutputs());
  board().SetRegister(0x11, 0x1F);
  Choose(Output()->ModeCombo(), CQV512XX_Gpio_Output::kOpenDrain);
  // No event has run since: the board's answer waits in the queue.
  chip::Journal().RecordRead(0x11, std::array<std::uint8_t, 1>{0x1F});
  Output()->OnTimer(CQV512XX_Gpio_Output::kModelTimer);
  EXPECT_EQ(Output()->ModeCombo()->currentIndex(), CQV512XX_Gpio_Output::kOpenDrain);  // the choice stays shown
  ASSERT_TRUE(RegisterBecomes(0x11, 0x0F));
  EXPECT_EQ(LastTrace("0x11 ="), "0x11 = f\n");
}

TEST_F(GpioPagesTest, PressingABoxShowsTheMarksItIsAbout) {
  ASSERT_NO_FATAL_FAILURE(SwitchToGpio());
  ASSERT_NO_FATAL_FAILURE(SelectPin(2));
  Choose(Input()->InterruptCombo(), CQV512XX_Gpio_Input::kDisable);
  g_pRoundPage->MarkPins(gpio::kNoMarks, gpio::Redraw::kPlain);
  EXPECT_TRUE(MarkedPins().empty());
  QTest::mousePress(Input()->InterruptCombo(), Qt::LeftButton);
  EXPECT_EQ(MarkedPins(), std::vector<int>{2});  // before the list opens
  EXPECT_TRUE(g_pLayoutPage->LedButton(2)->Selected());  // and the selection stays as it was
  Input()->InterruptCombo()->hidePopup();

  ASSERT_NO_FATAL_FAILURE(SwitchToOutputs());
  ASSERT_NO_FATAL_FAILURE(SelectPin(4));
  Choose(Output()->LevelCombo(), CQV512XX_Gpio_Output::kHighLevel);
  EXPECT_EQ(MarkedPins(), std::vector<int>{4});
  // The driver type is for all pins; the marks stay while it is chosen: they
  // show which pins are high.
  QTest::mousePress(Output()->ModeCombo(), Qt::LeftButton);
  EXPECT_EQ(MarkedPins(), std::vector<int>{4});
  Output()->ModeCombo()->hidePopup();
  QTest::mousePress(Output()->LevelCombo(), Qt::LeftButton);
  EXPECT_EQ(MarkedPins(), std::vector<int>{4});
  Output()->LevelCombo()->hidePopup();
}

TEST_F(GpioPagesTest, TheGpioBoxWritesTheDirectionItShows) {
  ASSERT_NO_FATAL_FAILURE(SwitchToGpio());
  ASSERT_NO_FATAL_FAILURE(SwitchToOutputs());
  QTest::mouseClick(Box(IDC_MODE_LED), Qt::LeftButton);
  ASSERT_TRUE(RegisterBecomes(0x12, 0x00));
  EXPECT_EQ(board().Register(0x04), 0x00);  // left as the outputs had it
  EXPECT_TRUE(Box(IDC_DIR_OUTPUT)->isChecked());  // and shown so
  // Back to GPIO: OUTPUT is what the chip holds and what is written, and the
  // page shown is the output page, not the input page.
  board().ClearDelivered();
  QTest::mouseClick(Box(IDC_MODE_GPIO), Qt::LeftButton);
  ASSERT_TRUE(RegisterBecomes(0x12, 0xFF));
  ASSERT_TRUE(Wrote(0x04, {0x00, 0x00}));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(Box(IDC_DIR_OUTPUT)->isChecked());
  EXPECT_FALSE(Box(IDC_DIR_INPUT)->isChecked());
  EXPECT_EQ(Input(), nullptr);
  ASSERT_NE(Output(), nullptr);
  EXPECT_TRUE(Output()->isVisible());
  // GPIO clicked again (OUTPUT checked): the output page stays the one shown.
  QTest::mouseClick(Box(IDC_MODE_GPIO), Qt::LeftButton);
  Pump(200);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(Input(), nullptr);
  ASSERT_NE(Output(), nullptr);
  EXPECT_EQ(board().Register(0x04), 0x00);
}

class GpioBoard128Test : public GpioPagesTest {
 protected:
  std::uint8_t BoardId() const override { return 128; }
};

TEST_F(GpioBoard128Test, WorksInGpioModeOnlyAndIsSetUpWhenThePersonChoosesIt) {
  EXPECT_EQ(g_selectedBoardId, 128);
  EXPECT_EQ(g_ledCount, 16);
  EXPECT_TRUE(g_pLayoutPage->LedButton(15)->isVisible());
  EXPECT_FALSE(Box(IDC_MODE_LED)->isEnabled());
  EXPECT_TRUE(Box(IDC_MODE_GPIO)->isEnabled());
  EXPECT_EQ(g_pBrightnessPage, nullptr);
  // Identification writes nothing, and no box claims a mode the chip was
  // never given.
  Pump(300);
  EXPECT_FALSE(Box(IDC_MODE_GPIO)->isChecked());
  EXPECT_FALSE(Box(IDC_DIR_INPUT)->isChecked());
  EXPECT_EQ(Input(), nullptr);
  for (const sim::DeliveredCommand& c : board().Delivered()) EXPECT_FALSE(c.cls == 16 && c.cmd == 3);
  // Chosen: the mode with inputs.
  ASSERT_NO_FATAL_FAILURE(SwitchToGpio());
  EXPECT_TRUE(Box(IDC_MODE_GPIO)->isChecked());
  EXPECT_TRUE(Box(IDC_DIR_INPUT)->isChecked());
  EXPECT_TRUE(Box(IDC_DIR_INPUT)->isEnabled());
  EXPECT_TRUE(Input()->isVisible());
  EXPECT_EQ(board().Register(0x12), 0xFF);
  EXPECT_EQ(board().Register(0x13), 0xFF);
  EXPECT_EQ(board().Register(0x04), 0xFF);
  EXPECT_EQ(board().Register(0x05), 0xFF);
  uitest::GrabAndSave(host.get(), QStringLiteral("gpio_board_128"));

  // The software reset is the last write: the mode is chosen again by the
  // person, as on every board.
  Pump(200);
  board().ClearDelivered();
  QTest::mouseClick(g_pRoundPage->ResetButton(), Qt::LeftButton);
  ASSERT_TRUE(RegisterBecomes(0x7F, 0x00));
  Pump(300);
  const auto writes = RegisterWrites();  // the maximum current back to 40 mA first
  EXPECT_EQ(writes, (std::vector<RegisterWrite>{{0x11, {0x00}}, {0x7F, {0x00}}}));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(Box(IDC_MODE_GPIO)->isChecked());
  EXPECT_TRUE(Box(IDC_MODE_GPIO)->isEnabled());
  EXPECT_EQ(Input(), nullptr);
}
