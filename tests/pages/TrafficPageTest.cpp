// The traffic page on the simulated board with the real reader thread: the
// rows a scripted exchange gives, "Save as CSV…" against corvelctl's --log
// on the same exchange, and pictures of both new pages during a blink chain.
#include <QHeaderView>
#include <QTableView>
#include <QTableWidget>
#include <QItemSelectionModel>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "pages/RegisterPage.h"
#include "pages/TrafficPage.h"
#include "ui/PageTable.h"
#include "chip/RegisterMap.h"
#include "corvel/TrafficTap.h"
#include "link/MUSBHid.h"
#include "link/TrafficCapture.h"
#include "platform/FileDialog.h"
#include "resources/dialogs/TrafficPageDialog.h"
#include "tests/pages/PageBoardFixture.h"
#include "tests/pages/StandInChainPage.h"
#include "ui/CMyComboBox.h"
#include "ui/CMyRectButton.h"
#include "ui/CMyStaticFont.h"

namespace {

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

class TrafficPageTest : public PageBoardFixture {
 protected:
  CTrafficPage& page() { return *host->TrafficPage(); }
  void ShowPage(TestPageHost::Page shown) { host->ShowPage(shown); }
  // Waits until the link has been quiet for a while, then empties the list.
  void StartFromQuiet() {
    Pump(300);
    page().Drain();
    page().ClearList();
  }
  // Runs the event loop until the board carried `count` commands of (cls, cmd)
  // and their answers had time to come back.
  void AwaitCarried(std::uint8_t cls, std::uint8_t cmd, std::size_t count) {
    ASSERT_TRUE(PumpUntil([&] { return Carried(cls, cmd).size() >= count; }));
    Pump(150);
  }
  // The page's rows as shown: direction, kind, command and meaning.
  std::vector<std::string> ShownRows() {
    page().Drain();
    std::vector<std::string> out;
    CTrafficModel& m = page().Model();
    for (int row = 0; row < m.rowCount(); ++row) {
      std::string line;
      for (int column : {CTrafficModel::kDirection, CTrafficModel::kKind, CTrafficModel::kCommand, CTrafficModel::kMeaning}) {
        if (!line.empty()) line += " | ";
        line += m.data(m.index(row, column), Qt::DisplayRole).toString().toStdString();
      }
      out.push_back(line);
    }
    return out;
  }
};

TEST_F(TrafficPageTest, AScriptedExchangeGivesTheExpectedRows) {
  ShowPage(TestPageHost::Page::kTraffic);
  ASSERT_TRUE(page().isVisible());
  StartFromQuiet();
  board().SetRegister(0x00, 0x5A);
  board().SetRegister(0x01, 0x0F);

  chip::WriteChipRegisters(0x20, std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6});
  AwaitCarried(16, 3, 1);
  chip::ReadChipRegisters(0x00, 2);
  AwaitCarried(16, 1, 1);
  board().RaiseInterrupt(1);
  Pump(300);

  const std::vector<std::string> expected = {
      "out | DATA | (16,3) write registers | write 0x20\u20130x25: 6 bytes",
      "in | ACK |  | frame " + std::to_string(Carried(16, 3)[0].sequence) + " received",
      "in | DATA | (16,4) registers written | written 0x20\u20130x25: 6 bytes",
      "out | ACK |  | frame",
      "out | DATA | (16,1) read registers | read 0x00\u20130x01: 2 bytes",
      "in | ACK |  | frame " + std::to_string(Carried(16, 1)[0].sequence) + " received",
      "in | DATA | (16,2) register data | data 0x00\u20130x01: 5A 0F",
      "out | ACK |  | frame",
      "in | DATA | (32,37) interrupt | interrupt line 1",
      "out | ACK |  | frame",
  };
  const auto rows = ShownRows();
  ASSERT_EQ(rows.size(), expected.size()) << ::testing::PrintToString(rows);
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].rfind(expected[i], 0), 0u) << rows[i];
  // The board's frames are acknowledged with their own numbers.
  const CTrafficModel& m = page().Model();
  for (int row : {2, 6, 8})
    EXPECT_EQ(m.ShownRow(row).sequence, m.ShownRow(row + 1).sequence) << row;
  EXPECT_EQ(page().List()->model()->rowCount(), 10);

  // The filter narrows the list; Clear empties it.
  page().FilterBox()->setCurrentIndex(1);  // data frames
  EXPECT_EQ(m.rowCount(), 5);
  page().FilterBox()->setCurrentIndex(2);  // ACK and NAK
  EXPECT_EQ(m.rowCount(), 5);
  page().FilterBox()->setCurrentIndex(0);
  uitest::GrabAndSave(host.get(), QStringLiteral("traffic_page_exchange"));
  QTest::mouseClick(platform::Control<CMyRectButton>(&page(), dialogs::IDC_TRAFFIC_CLEAR), Qt::LeftButton);
  EXPECT_EQ(m.rowCount(), 0);
}

TEST_F(TrafficPageTest, SavedCsvAndCorvelctlLogAgreeByteForByte) {
  StartFromQuiet();
  // corvelctl's --log tap beside the page's own, both handed the same
  // moments, so that only what they make of the reports can differ.
  std::mutex logMutex;
  std::string log = CsvHeader();
  auto tap = std::make_shared<TrafficTap>(nullptr, [&](const std::string& line) {
    std::lock_guard lock(logMutex);
    log += line;
  });
  QVCommunication* comm = &link->Communication();
  TrafficCapture* capture = &link->Traffic();
  comm->Hid()->SetReportTap([=](bool out, const std::uint8_t* report, std::size_t length) {
    const auto now = TrafficClock::now();
    const bool bootloader = comm->BootMode() == 1;
    capture->Push(out, bootloader, report, length, now);
    tap->Feed(now, out, bootloader, report, length);
  });

  chip::WriteChipRegisters(0x20, std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6});
  chip::WriteChipRegisters(chip::kRegRampTimes, std::array<std::uint8_t, 1>{0x19});
  chip::ReadChipRegisters(0x00, 2);
  chip::ReadChipRegisters(chip::kRegGlobalControl, 1);
  AwaitCarried(16, 1, 2);
  board().RaiseInterrupt(1);
  Pump(300);
  comm->Hid()->SetReportTap({});
  page().Drain();

  const std::string path = ::testing::TempDir() + "corvel-traffic-export.csv";
  platform::SetSaveFileDialogHook([&](const std::string& filter, const std::string&, const std::string& suggested) {
    EXPECT_EQ(filter, "CSV file(*.csv)|*.csv|");
    const std::filesystem::path offered(suggested);
    EXPECT_EQ(offered.filename().string().rfind("corvel-traffic-", 0), 0u) << suggested;
    EXPECT_EQ(offered.extension(), ".csv");
    EXPECT_TRUE(offered.is_absolute()) << suggested;
    return std::optional<std::string>(path);
  });
  ASSERT_TRUE(page().SaveAsCsv());
  platform::SetSaveFileDialogHook({});
  const std::string saved = ReadFile(path);
  // The header, four rows for each of the four commands (it, its ACK, the
  // answer, our ACK) and two for the interrupt.
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 1 + 4 * 4 + 2) << saved;
  std::lock_guard lock(logMutex);
  EXPECT_EQ(saved, log);
}

TEST_F(TrafficPageTest, BothPagesDuringABlinkChain) {
  // The stand-in sends the blink chain's traffic and takes the blink page's
  // relays for the while.
  StandInChainPage chain(host.get(), platform::kMsgBlinkRead);
  CPage* const blinkPage = std::exchange(g_pBlinkMode, &chain);
  g_bBlinkActive = 1;
  board().SetRegister(chip::kRegGlobalControl, 0x01);
  chain.StartChain();
  ASSERT_TRUE(PumpUntil([&] { return board().Register(chip::kRegGlobalControl) == 0x81; }));
  Pump(300);

  ShowPage(TestPageHost::Page::kRegisters);
  ASSERT_TRUE(host->RegisterPage()->isVisible());
  QTest::mouseClick(host->RegisterPage()->ReadAllButton(), Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([this] { return !host->RegisterPage()->Reading(); }));
  Pump(200);
  const int row = host->RegisterPage()->RowOf(chip::kRegGlobalControl);
  EXPECT_EQ(host->RegisterPage()->Table()->item(row, CRegisterPage::kWritten)->text(), QStringLiteral("0x81  (129)"));
  EXPECT_EQ(host->RegisterPage()->Table()->item(row, CRegisterPage::kFields)->text(),
            QStringLiteral("current range 1 (up to 30 mA), open drain, blink bit set"));
  uitest::GrabAndSave(host.get(), QStringLiteral("register_page_blink_chain"));

  ShowPage(TestPageHost::Page::kTraffic);
  page().Drain();
  EXPECT_GT(page().Model().rowCount(), 20);
  uitest::GrabAndSave(host.get(), QStringLiteral("traffic_page_blink_chain"));
  g_bBlinkActive = 0;
  g_pBlinkMode = blinkPage;
}

// The page on its own, fed by hand: the list's bound, Pause and a failed save.
class TrafficPageAloneTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kRows = 8;
  void SetUp() override {
    page = std::make_unique<CTrafficPage>(&capture, nullptr, kRows);
    page->InitDialog();
    platform::SetMessageBoxHook([this](const std::string& text, auto&&...) {
      boxes.push_back(text);
      return platform::MessageResult::Ok;
    });
  }
  void TearDown() override {
    platform::SetMessageBoxHook({});
    platform::SetSaveFileDialogHook({});
  }
  // An ACK from the board for `seq`: one report, one row.
  void Ack(std::uint16_t seq) {
    std::array<std::uint8_t, 65> report{};
    report.fill(0xFF);
    report[0] = 0;
    const std::uint8_t ack[] = {0x5A, 0x5A, 0x14, 0x00, 0x06, 0x00, 0x00, 0x10,
                                static_cast<std::uint8_t>(seq), static_cast<std::uint8_t>(seq >> 8), 0x00, 0x00};
    std::copy(std::begin(ack), std::end(ack), report.begin() + 1);
    capture.Push(false, false, report.data(), report.size());
  }
  std::vector<int> Sequences() {
    std::vector<int> out;
    for (int row = 0; row < page->Model().rowCount(); ++row) out.push_back(*page->Model().ShownRow(row).sequence);
    return out;
  }

  TrafficCapture capture;
  std::unique_ptr<CTrafficPage> page;
  std::vector<std::string> boxes;
};

TEST_F(TrafficPageAloneTest, TheListKeepsTheNewestRowsAndPauseHoldsIt) {
  for (std::uint16_t seq = 0; seq < 5; ++seq) Ack(seq);
  page->Drain();
  for (std::uint16_t seq = 5; seq < 12; ++seq) Ack(seq);
  page->Drain();
  EXPECT_EQ(Sequences(), (std::vector<int>{4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(page->Model().DroppedRows(), 4u);
  EXPECT_NE(page->Counts()->text().indexOf(QStringLiteral("keeps the newest 8, 4 older rows dropped")), -1)
      << page->Counts()->text().toStdString();

  // A batch larger than the whole list leaves only its newest rows.
  for (std::uint16_t seq = 100; seq < 120; ++seq) Ack(seq);
  page->Drain();
  EXPECT_EQ(Sequences(), (std::vector<int>{112, 113, 114, 115, 116, 117, 118, 119}));

  // Paused, the list holds still while rows keep coming; Resume shows them.
  QTest::mouseClick(page->PauseButton(), Qt::LeftButton);
  EXPECT_TRUE(page->Paused());
  EXPECT_EQ(page->PauseButton()->text(), QStringLiteral("Resume"));
  Ack(200);
  Ack(201);
  page->Drain();
  EXPECT_EQ(Sequences().back(), 119);
  EXPECT_NE(page->Counts()->text().indexOf(QStringLiteral("paused, 2 new rows waiting")), -1);
  QTest::mouseClick(page->PauseButton(), Qt::LeftButton);
  EXPECT_EQ(Sequences(), (std::vector<int>{114, 115, 116, 117, 118, 119, 200, 201}));
}

// Every kind fits its column whole ("ERROR", not "ERR…"), as do the headings.
TEST_F(TrafficPageAloneTest, ColumnsHoldTheirWidestKindAndHeading) {
  QTableView* list = page->List();
  const QFontMetrics cell(list->font());
  const QFontMetrics heading(list->horizontalHeader()->font());
  for (const char* kind : {"DATA", "ACK", "NAK", "BOOT", "ERROR"})
    EXPECT_GE(list->columnWidth(CTrafficModel::kKind) - 2 * kPageTableTextInset,
              cell.horizontalAdvance(QString::fromLatin1(kind)))
        << kind;
  for (int c = 0; c < CTrafficModel::kColumnCount - 1; ++c) {
    const QString title = page->Model().headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    EXPECT_GE(list->columnWidth(c) - 2 * kPageTableTextInset, heading.horizontalAdvance(title)) << title.toStdString();
  }
}

TEST_F(TrafficPageAloneTest, CopiesTheSelectedRowsAsCsv) {
  for (std::uint16_t seq = 0; seq < 4; ++seq) Ack(seq);
  page->Drain();
  page->List()->selectRow(3);
  page->List()->selectionModel()->select(page->Model().index(1, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
  const QString copied = page->CopySelectedRows();
  // In list order, whichever was selected first.
  EXPECT_EQ(copied.toStdString(), CsvLine(page->Model().ShownRow(1)) + CsvLine(page->Model().ShownRow(3)));
}

TEST_F(TrafficPageAloneTest, ReportsTheTapCouldNotQueueAndAFailedSave) {
  TrafficCapture small(2);
  CTrafficPage tight(&small, nullptr, kRows);
  tight.InitDialog();
  std::array<std::uint8_t, 65> report{};
  for (int i = 0; i < 5; ++i) small.Push(false, false, report.data(), report.size());
  tight.Drain();
  ASSERT_EQ(tight.Model().rowCount(), 3);
  EXPECT_EQ(tight.Model().ShownRow(2).meaning, "3 reports not recorded: the list fell behind");
  EXPECT_NE(tight.Counts()->text().indexOf(QStringLiteral("3 reports not recorded")), -1);

  platform::SetSaveFileDialogHook([](auto&&...) { return std::optional<std::string>("/nonexistent-dir/x.csv"); });
  EXPECT_FALSE(tight.SaveAsCsv());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].rfind("Cannot write /nonexistent-dir/x.csv: ", 0), 0u) << boxes[0];
  // Cancelled: nothing happens.
  platform::SetSaveFileDialogHook([](auto&&...) { return std::optional<std::string>(); });
  EXPECT_FALSE(tight.SaveAsCsv());
  EXPECT_EQ(boxes.size(), 1u);
}
