#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <utility>

#include "link/HidapiBackend.h"
#include "support/SimLinkFixture.h"
#include "support/TestFrames.h"

using namespace std::chrono_literals;
using namespace platform;

namespace {
// Stands in for the firmware transfer context.
class RecordingSink : public BootReplySink {
 public:
  void OnBootReply(const std::uint8_t* record) override {
    std::lock_guard lock(mutex);
    records.emplace_back(record, record + 64);
  }
  std::size_t Count() {
    std::lock_guard lock(mutex);
    return records.size();
  }
  std::mutex mutex;
  std::vector<std::vector<std::uint8_t>> records;
};
}  // namespace

class TransportTest : public SimLinkFixture {};

TEST_F(TransportTest, ReconnectWithoutBoardPostsDeviceNotFound) {
  board->Unplug();
  main->Drain();
  EXPECT_EQ(comm->Reconnect(), 0);
  auto m = main->WaitFor(kMsgLinkState, 100ms);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->wParam, 2u);
  EXPECT_STREQ(comm->GetLinkStateText(), " USB Hid device not found!");
}

TEST_F(TransportTest, ConnectSettlesThenHandshakes) {
  ASSERT_EQ(comm->Connect(), 1);
  auto s = Sleeps();
  ASSERT_FALSE(s.empty());
  EXPECT_EQ(s.front(), 1200u);  // the settle pause comes before any report
  auto written = backend->TakeWritten();
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written[0][14], 1);  // (1, 1)
  EXPECT_EQ(written[0][15], 1);
  auto m = Await(kMsgLinkState);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->wParam, 3u);
  EXPECT_STREQ(comm->GetLinkStateText(), " USB Hid device found, but chip not connected!");
}

TEST_F(TransportTest, ASettlePauseLeftToASchedulerHandshakesOnlyOnTheLinkItWasFor) {
  std::vector<std::pair<std::uint32_t, std::function<void()>>> pending;
  comm->SetPauseScheduler([&](std::uint32_t ms, std::function<void()> then) { pending.emplace_back(ms, std::move(then)); });
  // Handshakes written since the last look (acknowledgements aside).
  auto handshakes = [&] {
    int n = 0;
    for (const auto& report : backend->TakeWritten())
      if (report[14] == 1 && report[15] == 1) ++n;
    return n;
  };
  ASSERT_EQ(comm->Connect(), 1);
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].first, 1200u);
  EXPECT_TRUE(backend->TakeWritten().empty()) << "nothing goes out while the board settles";
  EXPECT_TRUE(Sleeps().empty()) << "and nobody sleeps";
  pending[0].second();
  EXPECT_EQ(handshakes(), 1);
  auto linked = Await(kMsgLinkState);
  ASSERT_TRUE(linked);
  EXPECT_EQ(linked->wParam, 3u);

  // Opened anew, or closed, while the board settled: the waiting handshake
  // belongs to a link that is gone and is not sent.
  pending.clear();
  ASSERT_EQ(comm->Reconnect(), 1);
  ASSERT_EQ(comm->Reconnect(), 1);
  ASSERT_EQ(pending.size(), 2u);
  handshakes();
  pending[0].second();
  EXPECT_EQ(handshakes(), 0);
  pending[1].second();
  EXPECT_EQ(handshakes(), 1);
  pending.clear();
  ASSERT_EQ(comm->Reconnect(), 1);
  comm->Disconnect();
  pending[0].second();
  EXPECT_EQ(handshakes(), 0);
}

TEST_F(TransportTest, FirmwareUpdateSkipsTheSettlePause) {
  comm->SetFirmwareUpdate(1);
  ASSERT_EQ(comm->Connect(), 1);
  const auto s = Sleeps();
  EXPECT_EQ(std::count(s.begin(), s.end(), 1200u), 0);
  auto m = Await(kMsgLinkState);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->wParam, 3u);
}

TEST_F(TransportTest, ArrivalAndForeignRemovalLeaveALiveLinkAlone) {
  ConnectLinked();
  const int opens = backend->OpenCount();
  comm->OnDeviceChange(DBT_DEVICEARRIVAL, 0);
  EXPECT_EQ(backend->OpenCount(), opens);
  comm->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, 0);  // some other device left
  EXPECT_TRUE(comm->Hid()->IsConnected());
  EXPECT_FALSE(main->WaitFor(kMsgLinkState, 50ms));
}

TEST_F(TransportTest, UnplugAndReplugRunTheLinkAgain) {
  ConnectLinked();
  board->Unplug();
  auto gone = Await(kMsgLinkState);
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->wParam, 2u);
  EXPECT_FALSE(comm->Hid()->IsConnected());
  board->Plug();
  auto back = Await(kMsgLinkState);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->wParam, 3u);
}

TEST_F(TransportTest, WritesFillTheReportWithFF) {
  ConnectLinked();
  backend->TakeWritten();
  const std::uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_EQ(comm->WriteReport(data, 10), 1);
  auto written = backend->TakeWritten();
  ASSERT_EQ(written.size(), 1u);
  std::vector<std::uint8_t> expected{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  expected.resize(65, 0xFF);
  EXPECT_EQ(written[0], expected);
  EXPECT_EQ(comm->WriteReport(data, 65), 0);  // more than a report holds

  EXPECT_EQ(comm->WriteBootRecord(data, 10), 0);  // nor a boot record the firmware

  comm->Disconnect();
  EXPECT_EQ(comm->WriteReport(data, 10), 0);
}

TEST_F(TransportTest, OnlyWholeReportsWithIdZeroAreDelivered) {
  ConnectLinked();
  const auto frame = testframes::BoardFrame(64, 2, {0, 0, 1});
  std::vector<std::uint8_t> report(65, 0xFF);
  report[0] = 0;
  std::copy(frame.begin(), frame.end(), report.begin() + 1);
  auto wrongId = report;
  wrongId[0] = 1;
  auto shortReport = report;
  shortReport.resize(64);
  backend->InjectInputReport(wrongId);
  backend->InjectInputReport(shortReport);
  EXPECT_FALSE(Await(kMsgBoardQueryOk, 200ms));
  backend->InjectInputReport(report);
  EXPECT_TRUE(Await(kMsgBoardQueryOk, 1000ms));
}

TEST_F(TransportTest, BootloaderRecordsGoToTheTransferContextNotTheEngine) {
  RecordingSink sink;
  comm->SetBootTransferContext(&sink);
  ScopedQueueTarget bootWindow;
  corvel::SetBootDialogHandle(bootWindow.handle());
  comm->SetFirmwareUpdate(1);
  ConnectLinked();

  board->RestartIntoBootloader();  // removal, then arrival as release 0x0100
  auto status = std::optional<Message>();
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (!status && std::chrono::steady_clock::now() < deadline) {
    Settle(20ms);
    status = bootWindow->WaitFor(kMsgBootStatus, 1ms);
  }
  ASSERT_TRUE(status);
  EXPECT_EQ(status->wParam, kBootStatusBootloaderFound);
  EXPECT_EQ(comm->BootMode(), 1);
  ASSERT_TRUE(comm->Hid()->IsConnected());

  std::uint8_t connect[64] = {0xE0};
  EXPECT_EQ(comm->WriteReport(connect, 64), 0);  // no frame reaches the bootloader
  ASSERT_EQ(comm->WriteBootRecord(connect, 64), 1);
  for (int i = 0; i < 100 && sink.Count() == 0; ++i) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(sink.Count(), 1u);
  EXPECT_EQ(sink.records[0][0], 0xE0);
  EXPECT_EQ(comm->Engine().GetStats().queuedReports, 0u);
  EXPECT_FALSE(comm->Engine().GetStats().reassembling);

  // Removal while in the bootloader tells both windows.
  Settle(20ms);
  main->Drain();
  bootWindow->Drain();
  board->Unplug();
  auto link = Await(kMsgLinkState);
  ASSERT_TRUE(link);
  EXPECT_EQ(link->wParam, 2u);
  auto removed = bootWindow->WaitFor(kMsgBootStatus, 500ms);
  ASSERT_TRUE(removed);
  EXPECT_EQ(removed->wParam, kBootStatusDeviceRemoved);
  Settle(50ms);
  EXPECT_FALSE(bootWindow->Wait(1ms)) << "one removal, one notice";
  comm->SetBootTransferContext(nullptr);
}

TEST_F(TransportTest, BootloaderIsIgnoredWithoutATransferContext) {
  board->RestartIntoBootloader();
  Settle(50ms);
  EXPECT_EQ(comm->Connect(), 0);
  EXPECT_EQ(comm->BootMode(), 0);
}

TEST_F(TransportTest, StrayRecordOutsideBootModeIsDiscardedByTheEngine) {
  ConnectLinked();
  std::vector<std::uint8_t> report(65, 0x00);
  report[1] = 0xE0;
  backend->InjectInputReport(report);
  Settle(100ms);
  const auto s = comm->Engine().GetStats();
  EXPECT_EQ(s.queuedReports, 0u);
  EXPECT_FALSE(s.reassembling);
}

TEST(HidapiBackendTest, NoBoardMeansNothingFoundAndNoNoise) {
  HidapiBackend backend;
  EXPECT_TRUE(backend.Enumerate(0x0483, 0x5750).empty());
  std::string error;
  EXPECT_EQ(backend.Open("/dev/does-not-exist", error), nullptr);
  EXPECT_FALSE(error.empty());  // said only when asked to open

  // The transport over the real backend: Open finds nothing and says nothing.
  QVCommunication comm(std::make_unique<HidapiBackend>());
  comm.Init();
  EXPECT_EQ(comm.Hid()->Open(), 0);
  EXPECT_TRUE(comm.Hid()->LastError().empty());
}
