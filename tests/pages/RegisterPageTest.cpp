// The register page on the simulated board with the real reader thread: what
// it shows, what "Read all" and an edit send, and that its reads change
// nothing for the pages that read the same registers.
#include <QCheckBox>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>

#include "pages/RegisterPage.h"
#include "pages/TrafficPage.h"
#include "chip/RegisterJournal.h"
#include "chip/RegisterMap.h"
#include "platform/Messages.h"
#include "resources/dialogs/RoundPageDialog.h"
#include "tests/pages/PageBoardFixture.h"
#include "tests/pages/StandInChainPage.h"
#include "ui/CMyEdit.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"

using Bytes = std::vector<std::uint8_t>;

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

class RegisterPageTest : public PageBoardFixture {
 protected:
  CRegisterPage& page() { return *host->RegisterPage(); }
  QString Cell(std::uint8_t reg, int column) {
    return page().Table()->item(page().RowOf(reg), column)->text();
  }
  void ShowPage() {
    host->ShowPage(TestPageHost::Page::kRegisters);
    ASSERT_TRUE(page().isVisible());
  }
  bool ReadAllAndWait() {
    QTest::mouseClick(page().ReadAllButton(), Qt::LeftButton);
    return PumpUntil([this] { return !page().Reading(); }, 3000);
  }
};

TEST_F(RegisterPageTest, ShowsWhatEachValueMeans) {
  ShowPage();
  const struct {
    std::uint8_t reg, value;
    const char* fields;
  } cases[] = {
      {0x00, 0x5A, "high bits: 1 3 4 6"},
      {0x04, 0xFF, "all inputs"},
      {0x05, 0x00, "all outputs"},
      {0x07, 0x81, "disabled pins: 8 15"},
      {0x11, 0x12, "current range 2 (up to 20 mA), push-pull"},
      {0x12, 0x00, "LED"},
      {0x13, 0xFF, "GPIO"},
      {0x14, 0xFF, "effect running"},
      {0x15, 0x19, "ramp on 315 ms, ramp off 1260 ms"},
      {0x16, 0x2A, "keep on 630 ms, keep off 5040 ms"},
      {0x22, 128, "128 (50 %)"},
      {0x2F, 255, "255 (100 %)"},
  };
  for (const auto& c : cases) chip::Journal().RecordRead(c.reg, std::array{c.value});
  page().Refresh();
  for (const auto& c : cases) {
    EXPECT_EQ(Cell(c.reg, CRegisterPage::kFields), QString::fromUtf8(c.fields)) << int(c.reg);
    EXPECT_EQ(Cell(c.reg, CRegisterPage::kRead), QString::asprintf("0x%02X  (%u)", c.value, c.value)) << int(c.reg);
  }
  // The newer of read and written is what the fields describe; a value
  // older than a software reset is shown as such.
  chip::Journal().RecordWrite(0x15, std::array<std::uint8_t, 1>{0x0A});
  chip::Journal().RecordWrite(0x7F, std::array<std::uint8_t, 1>{0x00});
  page().Refresh();
  EXPECT_EQ(Cell(0x15, CRegisterPage::kFields), QStringLiteral("ramp on 630 ms, ramp off 315 ms"));
  const QTableWidgetItem* stale = page().Table()->item(page().RowOf(0x15), CRegisterPage::kWritten);
  EXPECT_TRUE(stale->font().italic());
  EXPECT_NE(stale->toolTip().indexOf(QStringLiteral("before the last software reset")), -1);
  // Columns a register's access rules out say so, unless a value was seen.
  EXPECT_EQ(Cell(0x2A, CRegisterPage::kRead), QStringLiteral("\u2014"));
  EXPECT_EQ(Cell(0x01, CRegisterPage::kWritten), QStringLiteral("\u2014"));
  uitest::GrabAndSave(host.get(), QStringLiteral("register_page_fields"));
}

TEST_F(RegisterPageTest, ReadAllFillsThePageFromTheSimulatedBoard) {
  board().SetRegister(0x00, 0x5A);
  board().SetRegister(0x01, 0xA5);
  board().SetRegister(0x11, 0x13);
  ShowPage();
  ASSERT_TRUE(ReadAllAndWait());
  ASSERT_TRUE(PumpUntil([this] { return Cell(0x11, CRegisterPage::kRead) == QStringLiteral("0x13  (19)"); }));
  EXPECT_EQ(Cell(0x00, CRegisterPage::kRead), QStringLiteral("0x5A  (90)"));
  EXPECT_EQ(Cell(0x01, CRegisterPage::kRead), QStringLiteral("0xA5  (165)"));
  EXPECT_EQ(Cell(0x11, CRegisterPage::kFields), QStringLiteral("current range 3 (up to 10 mA), push-pull"));
  EXPECT_TRUE(page().StatusText()->text().startsWith(QStringLiteral("Read 3 registers at"))) << page().StatusText()->text().toStdString();
  // Neighbours in one request; write-only registers are not read.
  const auto reads = Carried(16, 1);
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0].payload[2], 0x00);
  EXPECT_EQ(reads[0].payload[3], 2);
  EXPECT_EQ(reads[1].payload[2], 0x11);
  EXPECT_EQ(reads[1].payload[3], 1);
  EXPECT_TRUE(RegisterWrites().empty());
  uitest::GrabAndSave(host.get(), QStringLiteral("register_page_read_all"));
}

TEST_F(RegisterPageTest, AnEditWritesExactlyOneRegister) {
  ShowPage();
  QTableWidget* table = page().Table();
  const int row = page().RowOf(chip::kRegRampTimes);
  QTableWidgetItem* cell = table->item(row, CRegisterPage::kWritten);
  table->scrollToItem(cell);
  const QPoint at = table->visualItemRect(cell).center();
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at);
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, QStringLiteral("0x19"));
  QTest::keyClick(editor, Qt::Key_Return);
  ASSERT_TRUE(PumpUntil([this] { return board().Register(chip::kRegRampTimes) == 0x19; }));
  ASSERT_TRUE(PumpUntil([this] { return page().StatusText()->text() == QStringLiteral("Register 0x15 written: 0x19."); }))
      << page().StatusText()->text().toStdString();
  EXPECT_EQ(RegisterWrites(), (std::vector<RegisterWrite>{{0x15, {0x19}}}));
  ASSERT_TRUE(PumpUntil([this] { return Cell(0x15, CRegisterPage::kWritten) == QStringLiteral("0x19  (25)"); }));
  EXPECT_EQ(Cell(0x15, CRegisterPage::kFields), QStringLiteral("ramp on 315 ms, ramp off 1260 ms"));

  // What is no byte is refused with a word and sends nothing; read-only
  // registers have no editor.
  board().ClearDelivered();
  EXPECT_FALSE(page().WriteRegisterText(0x15, QStringLiteral("300")));
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back(), "Enter a value from 0 to 255, or 0x00 to 0xFF in hex.");
  EXPECT_FALSE(table->item(page().RowOf(0x00), CRegisterPage::kWritten)->flags() & Qt::ItemIsEditable);
  EXPECT_FALSE(page().WriteRegister(0x00, 1));
  Pump(200);
  EXPECT_TRUE(RegisterWrites().empty());
}

TEST_F(RegisterPageTest, SoftwareResetAsksFirst) {
  ShowPage();
  platform::MessageResult answer = platform::MessageResult::No;
  std::vector<std::string> asked;
  platform::SetMessageBoxHook([&](const std::string& text, const std::string&, platform::MessageIcon,
                                  platform::MessageButtons buttons) {
    asked.push_back(text);
    return buttons == platform::MessageButtons::YesNo ? answer : platform::MessageResult::Ok;
  });
  board().SetRegister(chip::kRegRampTimes, 0x19);
  EXPECT_FALSE(page().WriteRegisterText(chip::kRegSoftwareReset, QStringLiteral("0")));
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_NE(asked[0].find("Reset the chip?"), std::string::npos);
  Pump(200);
  EXPECT_TRUE(RegisterWrites().empty());
  EXPECT_EQ(board().Register(chip::kRegRampTimes), 0x19);

  answer = platform::MessageResult::Yes;
  g_pRoundPage->CurrentEdit()->setText(QStringLiteral("25"));
  EXPECT_TRUE(page().WriteRegisterText(chip::kRegSoftwareReset, QStringLiteral("0x00")));
  ASSERT_TRUE(PumpUntil([this] { return board().Register(chip::kRegRampTimes) == 0x00; }));
  // As the LED board page's own reset button: its pages start over along
  // with the chip.
  const auto writes = RegisterWrites();
  EXPECT_EQ(std::count(writes.begin(), writes.end(), RegisterWrite{0x7F, {0x00}}), 1) << writes.size();
  // The typed 25 is gone; what the chip holds in 0x11 after its reset is not
  // known, so the field ends empty with its "?" (not 25, not a guessed 40).
  ASSERT_TRUE(PumpUntil([] { return g_pRoundPage->CurrentEdit()->text().isEmpty(); }))
      << g_pRoundPage->CurrentEdit()->text().toStdString();
  EXPECT_EQ(g_pRoundPage->CurrentEdit()->placeholderText(), QStringLiteral("?"));
  ASSERT_TRUE(PumpUntil([this] { return Cell(0x7F, CRegisterPage::kWritten) == QStringLiteral("0x00  (0)"); }));
}

TEST_F(RegisterPageTest, WritesOfThePagesShowInTheWrittenColumn) {
  ShowPage();
  // "Global Max Current" 25 on the LED board page, while the register page is shown.
  g_pRoundPage->CurrentEdit()->setText(QStringLiteral("25"));
  g_pRoundPage->OnModeLed();
  ASSERT_TRUE(PumpUntil([this] { return Cell(0x11, CRegisterPage::kWritten) == QStringLiteral("0x01  (1)"); }));
  EXPECT_EQ(Cell(0x11, CRegisterPage::kFields), QStringLiteral("current range 1 (up to 30 mA), open drain"));
  EXPECT_EQ(Cell(0x12, CRegisterPage::kWritten), QStringLiteral("0x00  (0)"));
  EXPECT_EQ(Cell(0x12, CRegisterPage::kFields), QStringLiteral("LED"));
  // The LED board page goes on behind: back on it, its state is as left.
  host->ShowPage(TestPageHost::Page::kRound);
  EXPECT_TRUE(g_pRoundPage->isVisible());
  EXPECT_FALSE(page().isVisible());
  EXPECT_TRUE(g_pRoundPage->ModeBox(dialogs::IDC_MODE_LED)->isChecked());
  EXPECT_TRUE(g_pRoundPage->Timers().IsTimerArmed(CRound::kBrightnessTimer));
}

TEST_F(RegisterPageTest, NothingIsSentWithoutAnIdentifiedBoard) {
  ShowPage();
  g_bBoardMatched = 0;
  QTest::mouseClick(page().ReadAllButton(), Qt::LeftButton);
  EXPECT_FALSE(page().Reading());
  // Told at once, before a late answer to earlier traffic takes the line.
  EXPECT_EQ(host->notConnected, 1);
  EXPECT_FALSE(page().WriteRegister(0x15, 1));
  Pump(200);
  EXPECT_TRUE(Carried(16, 1).empty());
  EXPECT_TRUE(RegisterWrites().empty());
  EXPECT_TRUE(page().StatusText()->text().startsWith(QStringLiteral("No lamp board identified")));
}

TEST_F(RegisterPageTest, AFailedOrUnansweredReadStopsWithAReason) {
  ShowPage();
  sim::SimFaults faults;
  faults.failRegisterRead = true;
  board().SetFaults(faults);
  ASSERT_TRUE(ReadAllAndWait());
  EXPECT_EQ(page().StatusText()->text(),
            QStringLiteral("The board could not read register 0x00 at chip address 0x5B: reading stopped."));
  EXPECT_EQ(Carried(16, 1).size(), 1u);  // the rest is not tried

  // A board that stays silent: the read is given up when its timer runs out
  // (called here instead of waited for), and the next "Read all" starts over.
  faults = {};
  faults.silent = true;
  board().SetFaults(faults);
  QTest::mouseClick(page().ReadAllButton(), Qt::LeftButton);
  EXPECT_TRUE(page().Reading());
  EXPECT_TRUE(page().Timers().IsTimerArmed(CRegisterPage::kReadTimer));
  page().OnTimer(CRegisterPage::kReadTimer);
  EXPECT_FALSE(page().Reading());
  EXPECT_EQ(page().StatusText()->text(),
            QStringLiteral("No answer to the read of register 0x00 within 2 s: reading stopped."));
}

TEST_F(RegisterPageTest, ItsReadsChangeNothingForTheRealBlinkAndGpioOutputPages) {
  ShowPage();
  // Blink is the active mode: every read answer is relayed to the blink page.
  ASSERT_NE(g_pBlinkMode, nullptr);
  g_bBlinkActive = 1;
  board().SetRegister(chip::kRegGlobalControl, 0x02);
  board().ClearDelivered();
  ASSERT_TRUE(ReadAllAndWait());
  Pump(300);
  EXPECT_TRUE(RegisterWrites().empty());
  EXPECT_EQ(board().Register(chip::kRegGlobalControl), 0x02);
  g_bBlinkActive = 0;

  // The GPIO output page, which changes register 0x11 from its own reads.
  g_pRoundPage->OnModeGpio();
  g_pRoundPage->OnDirectionOutput();
  ASSERT_NE(g_pGpioOutputPage, nullptr);
  Pump(300);
  board().ClearDelivered();
  ASSERT_TRUE(ReadAllAndWait());
  Pump(300);
  EXPECT_TRUE(RegisterWrites().empty());
  EXPECT_EQ(board().Register(chip::kRegGlobalControl), 0x02);
}

// The pages that read register 0x11 and act on the answer, played by a
// stand-in with the same waiting, so that a neighbour's own read made at the
// same moment can be followed step by step.
class RegisterPageNeighbourTest : public RegisterPageTest {
 protected:
  // The stand-ins take the place of the pages the application registered:
  // the blink page is made again with its factory, the GPIO output page when
  // the test selects it.
  void SetUp() override {
    RegisterPageTest::SetUp();
    CRound::SetSubPageFactory(CRound::SubPage::kBlink, [this](QWidget* host, PageHost&) {
      blink = new StandInChainPage(host, platform::kMsgBlinkRead);
      return blink;
    });
    CRound::SetSubPageFactory(CRound::SubPage::kGpioOutput, [this](QWidget* host, PageHost&) {
      gpioOutput = new StandInChainPage(host, platform::kMsgGpioOutputRead);
      return gpioOutput;
    });
    g_pRoundPage->DestroyBlinkPage();
    g_pRoundPage->CreateBlinkPage();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  void TearDown() override {
    g_bBlinkActive = 0;
    RegisterPageTest::TearDown();
    CRound::SetSubPageFactory(CRound::SubPage::kBlink, {});
    CRound::SetSubPageFactory(CRound::SubPage::kGpioOutput, {});
  }

  // With `neighbour` in place: a read of the register page alone changes no
  // register; the neighbour's own read, made at the same time, is acted on
  // exactly once.
  void CheckReadsDisturbNothing(StandInChainPage* neighbour) {
    board().SetRegister(chip::kRegGlobalControl, 0x02);
    board().ClearDelivered();
    ASSERT_TRUE(ReadAllAndWait());
    ASSERT_TRUE(PumpUntil([&] { return neighbour->repliesSeen >= 2; }));
    Pump(200);
    EXPECT_TRUE(RegisterWrites().empty());
    EXPECT_EQ(neighbour->actions, 0);
    EXPECT_EQ(Cell(0x11, CRegisterPage::kRead), QStringLiteral("0x02  (2)"));

    neighbour->ReadGlobalControl();
    ASSERT_TRUE(ReadAllAndWait());
    ASSERT_TRUE(PumpUntil([this] { return board().Register(chip::kRegGlobalControl) == 0x82; }));
    Pump(200);
    EXPECT_EQ(neighbour->actions, 1);
    EXPECT_EQ(RegisterWrites(), (std::vector<RegisterWrite>{{0x11, {0x82}}}));
  }

  StandInChainPage* blink = nullptr;
  StandInChainPage* gpioOutput = nullptr;
};

TEST_F(RegisterPageNeighbourTest, ItsReadsChangeNothingForTheBlinkOrGpioOutputPage) {
  ShowPage();
  ASSERT_NE(blink, nullptr);
  ASSERT_EQ(g_pBlinkMode, blink);
  g_bBlinkActive = 1;
  {
    SCOPED_TRACE("blink page");
    CheckReadsDisturbNothing(blink);
  }
  g_bBlinkActive = 0;

  g_pRoundPage->OnModeGpio();
  g_pRoundPage->OnDirectionOutput();
  ASSERT_NE(gpioOutput, nullptr);
  ASSERT_EQ(g_pGpioOutputPage, gpioOutput);
  Pump(200);
  {
    SCOPED_TRACE("GPIO output page");
    CheckReadsDisturbNothing(gpioOutput);
  }
}
