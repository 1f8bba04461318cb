// The whole update over the real link: the boot value command, the board's
// restart into its bootloader, the connect record, the transfer through the
// transport manager and the HID reader thread, and the board's return to its
// application firmware. The test thread plays both windows.
#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>

#include "firmware/BootTransfer.h"
#include "firmware/ImageFile.h"
#include "link/CommandSet.h"
#include "support/SimLinkFixture.h"

using namespace std::chrono_literals;
using platform::Message;

namespace {

std::vector<std::uint8_t> Pattern(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 31 + i / 256);
  return v;
}

class BootLinkTest : public SimLinkFixture {
 protected:
  void SetUp() override {
    SimLinkFixture::SetUp();
    corvel::SetBootDialogHandle(bootWindow.handle());
  }
  void TearDown() override {
    if (ctx) comm->SetBootTransferContext(nullptr);
    ctx.reset();  // joins the worker while the transport it writes to exists
    corvel::SetBootDialogHandle(platform::kNoHandle);
    SimLinkFixture::TearDown();
  }

  void MakeContext(BootTransferTiming timing) {
    ctx = std::make_unique<BootTransferContext>(BootTransferContext::WriterFor(*comm), timing);
    comm->SetBootTransferContext(ctx.get());
  }

  // The next status for the update window, handling device changes on the
  // way as the main window does.
  std::optional<Message> AwaitBootStatus(std::chrono::milliseconds timeout = 3000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (auto m = bootWindow->WaitFor(platform::kMsgBootStatus, 1ms)) return m;
      Settle(5ms);
    }
    return std::nullopt;
  }

  // What the update window's Connect sets going, up to the boot version.
  void EnterBootloader() {
    ConnectLinked();
    comm->SetFirmwareUpdate(1);
    const std::uint8_t zero = 0;
    ASSERT_EQ(SendBootCommand(kCmdSetBootValue, &zero, 1), 1);
    // Device changes are handled as they come, as the window does: the
    // board restarts right after its answer, and the answer's last report
    // must still reach the packet engine.
    auto ok = Await(platform::kMsgTextOk);
    ASSERT_TRUE(ok);
    EXPECT_STREQ(reinterpret_cast<const char*>(ok->wParam), "√ Set boot value successfully!");
    // The link may report the bootloader more than once while the restart's
    // removal and arrival are handled, and a removal before the connect;
    // the window answers each report with a connect record and heeds a
    // removal only once connected.
    std::optional<Message> connected;
    std::vector<std::uintptr_t> seen;
    while (!connected) {
      auto m = AwaitBootStatus();
      ASSERT_TRUE(m) << ::testing::PrintToString(seen);
      seen.push_back(m->wParam);
      if (m->wParam == kBootStatusBootloaderFound) ctx->SendConnectRecord();
      if (m->wParam == kBootStatusConnected) connected = m;
    }
    Settle(100ms);
    bootWindow->Drain();  // answers to the extra connect records
    EXPECT_EQ(BootVersionText(connected->Value()), "1.2.0.7");
  }

  platform::ScopedQueueTarget bootWindow;
  std::unique_ptr<BootTransferContext> ctx;
};

}  // namespace

TEST_F(BootLinkTest, UpdateProgramsTheFlashAndTheBoardComesBack) {
  MakeContext({});
  ASSERT_NO_FATAL_FAILURE(EnterBootloader());
  const auto data = Pattern(1000);
  auto image = std::make_unique<ImageBuffer>();
  image->fill(0xFF);
  const std::uint32_t checkWord = ComputeImageChecksum(data);
  const auto file = BuildImageFile(data, checkWord);
  std::copy(file.begin(), file.end(), image->begin());
  ASSERT_TRUE(ctx->StartTransfer(*image, 1000, checkWord));

  // Device changes are handled while the worker runs: the restart after the
  // end record must not take the end record's answer away from the worker.
  std::vector<std::uintptr_t> codes;
  std::intptr_t lastProgress = -1;
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < until) {
    auto m = bootWindow->WaitFor(platform::kMsgBootStatus, 2ms);
    if (!m) {
      Settle(2ms);
      continue;
    }
    codes.push_back(m->wParam);
    if (m->wParam == kBootStatusProgress) lastProgress = m->Value();
    if (IsFinalBootStatus(m->wParam)) break;
  }
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.back(), kBootStatusDone) << ::testing::PrintToString(codes);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), kBootStatusProgress), 32);
  EXPECT_EQ(lastProgress, 102);  // 32 blocks × 3200 ÷ 1000: the last block runs past N
  EXPECT_EQ(board->ErasedLength(), 1000u);
  EXPECT_EQ(board->Flash(0, 1000), data);

  // The end record restarts the board into the new firmware, which the link
  // picks up without the settle pause.
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (comm->LinkState() != kLinkDeviceFound && std::chrono::steady_clock::now() < deadline) Settle(10ms);
  EXPECT_EQ(comm->LinkState(), kLinkDeviceFound);
  EXPECT_EQ(comm->BootMode(), 0);
  EXPECT_EQ(board->ReleaseNumber(), sim::kReleaseApplication);
}

TEST_F(BootLinkTest, BoardPulledMidTransferEndsTheWorkerAtOnce) {
  // Waits far longer than the test may take: a worker left waiting for an
  // answer from a board that is gone would show.
  MakeContext({30000ms, 30000ms});
  ASSERT_NO_FATAL_FAILURE(EnterBootloader());
  std::atomic<int> blocks{0};
  comm->Hid()->SetReportTap([&](bool out, const std::uint8_t* report, std::size_t) {
    if (out && report[1] == boot::kOpBlock && ++blocks == 5) {
      auto faults = board->Faults();
      faults.silent = true;  // block 5 is swallowed: the worker is left waiting
      board->SetFaults(faults);
    }
  });
  auto image = std::make_unique<ImageBuffer>();
  image->fill(0x5A);
  ASSERT_TRUE(ctx->StartTransfer(*image, 4096, 0));

  for (int confirmed = 0; confirmed < 4;) {
    auto m = AwaitBootStatus();
    ASSERT_TRUE(m);
    if (m->wParam == kBootStatusProgress) ++confirmed;
  }
  const auto pulled = std::chrono::steady_clock::now();
  board->Unplug();

  // The window hears of the removal (11) and the worker ends (1). Which comes
  // first depends on whether the board went while the worker was waiting for
  // an answer or while it was sending the next block.
  std::vector<std::uintptr_t> codes;
  while (codes.size() < 2) {
    auto m = AwaitBootStatus(5000ms);
    if (!m) break;
    codes.push_back(m->wParam);
    if (m->wParam == kBootStatusDeviceRemoved) {  // what the update window does
      ctx->RequestStop();
      ctx->OnDeviceRemoved();
    }
  }
  std::sort(codes.begin(), codes.end());
  EXPECT_EQ(codes, (std::vector<std::uintptr_t>{kBootStatusTimeout, kBootStatusDeviceRemoved}));
  ctx->Join();
  EXPECT_LT(std::chrono::steady_clock::now() - pulled, 5s);
  EXPECT_FALSE(ctx->IsRunning());
  comm->Hid()->SetReportTap({});
  Settle(50ms);
  EXPECT_FALSE(bootWindow->Wait(1ms)) << "one removal, one notice";
}
