#include <gtest/gtest.h>

#include <cstring>

#include "link/CommandSet.h"
#include "platform/Messages.h"
#include "support/EngineFixture.h"

using testframes::BoardFrame;
using testframes::Bytes;
using namespace std::chrono_literals;
using namespace platform;

class CommandSetTest : public EngineFixture {
 protected:
  // The payload of the one frame sent since the last call.
  Bytes SentPayload() {
    Bytes wire = host.TakeWire();
    EXPECT_GE(wire.size(), 19u);
    if (wire.size() < 19) return {};
    const std::size_t n = wire[16] | (wire[17] << 8);
    return Bytes(wire.begin() + 18, wire.begin() + 18 + static_cast<std::ptrdiff_t>(n));
  }
};

TEST_F(CommandSetTest, EveryReplyBecomesItsNotification) {
  const Bytes some{1, 2, 3, 4};
  struct Row {
    std::uint8_t cls, cmd;
    Bytes payload;
    std::uint32_t message;  // 0: nothing is posted
    const char* text;       // wParam text of 329/330
  };
  const Row rows[] = {
      {16, 2, {1, 0x5B, 0x20, 1, 4, 0, 0xAB}, kMsgRegisterRead, nullptr},
      {16, 18, {1, 0x5B, 0x20, 2, 4, 0, 0xAB, 0xCD}, kMsgRegisterRead, nullptr},
      {16, 2, {1, 0x5B, 0x20, 2, 4, 0, 0xAB}, 0, nullptr},  // count disagrees with length
      {16, 4, some, kMsgRegisterWritten, nullptr},
      {16, 25, some, kMsgRegisterWritten, nullptr},
      {16, 48, some, kMsgRegisterReadFailed, nullptr},
      {32, 17, {0}, kMsgGpioControlStatus, nullptr},
      {32, 18, some, kMsgBoardEvent18, nullptr},
      {32, 19, some, kMsgBoardEvent19, nullptr},
      {32, 37, {1}, kMsgInterrupt, nullptr},
      {32, 81, some, kMsgBoardEvent81, nullptr},
      {48, 2, {}, kMsgTextOk, kTextBootValueOk},
      {48, 3, {}, kMsgTextFailed, kTextBootValueFailed},
      {64, 2, {0, 0, 3}, kMsgBoardQueryOk, nullptr},
      {64, 3, {0, 0, 3}, kMsgBoardQueryFailed, nullptr},
      {64, 5, some, kMsgSetDataOk, nullptr},   {64, 17, some, kMsgSetDataOk, nullptr},
      {64, 24, some, kMsgSetDataOk, nullptr},  {64, 25, some, kMsgSetDataOk, nullptr},
      {64, 33, some, kMsgSetDataOk, nullptr},  {64, 40, some, kMsgSetDataOk, nullptr},
      {64, 56, some, kMsgSetDataOk, nullptr},  {64, 65, some, kMsgSetDataOk, nullptr},
      {64, 68, some, kMsgSetDataOk, nullptr},  {64, 71, some, kMsgSetDataOk, nullptr},
      {64, 6, some, kMsgSetDataFailed, nullptr},  {64, 18, some, kMsgSetDataFailed, nullptr},
      {64, 34, some, kMsgSetDataFailed, nullptr}, {64, 41, some, kMsgSetDataFailed, nullptr},
      {64, 57, some, kMsgSetDataFailed, nullptr}, {64, 66, some, kMsgSetDataFailed, nullptr},
      {64, 69, some, kMsgSetDataFailed, nullptr}, {64, 72, some, kMsgSetDataFailed, nullptr},
      {64, 11, {}, kMsgTextOk, kTextAddressOk},
      {64, 12, {}, kMsgTextFailed, kTextAddressFailed},
      {64, 43, some, kMsgOpenShortOk, nullptr},
      {64, 44, some, kMsgOpenShortFailed, nullptr},
      {64, 4, some, 0, nullptr},  // accepted but never answered by us
      {32, 1, some, 0, nullptr},
      {255, 0, some, 0, nullptr},
  };
  for (const Row& r : rows) {
    main->Drain();
    host.TakeWire();
    Receive(BoardFrame(r.cls, r.cmd, r.payload));
    EXPECT_EQ(host.TakeWire().size(), 12u) << int(r.cls) << "," << int(r.cmd) << " is acknowledged";
    auto m = main->Wait(r.message ? 200ms : 10ms);
    if (!r.message) {
      EXPECT_FALSE(m) << int(r.cls) << "," << int(r.cmd);
      continue;
    }
    ASSERT_TRUE(m) << int(r.cls) << "," << int(r.cmd);
    EXPECT_EQ(m->id, r.message) << int(r.cls) << "," << int(r.cmd);
    if (r.text) {
      EXPECT_STREQ(reinterpret_cast<const char*>(m->wParam), r.text);
    } else {
      ASSERT_TRUE(m->Bytes()) << int(r.cls) << "," << int(r.cmd);
      EXPECT_EQ(*m->Bytes(), r.payload) << int(r.cls) << "," << int(r.cmd);
    }
    EXPECT_EQ(main->Pending(), 0u) << int(r.cls) << "," << int(r.cmd);
  }
}

TEST_F(CommandSetTest, BootValueRefusalAlsoReachesTheUpdateWindowWhenItExists) {
  Receive(BoardFrame(48, 3, {}));
  EXPECT_TRUE(main->WaitFor(kMsgTextFailed, 100ms));  // no update window: nothing else

  ScopedQueueTarget boot;
  corvel::SetBootDialogHandle(boot.handle());
  Receive(BoardFrame(48, 3, {}));
  EXPECT_TRUE(main->WaitFor(kMsgTextFailed, 100ms));
  auto m = boot->Wait(100ms);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->id, kMsgBootCommandFailed);
  corvel::SetBootDialogHandle(kNoHandle);
}

TEST_F(CommandSetTest, RepliesAfterTheChipRegistryIsGoneAreDropped) {
  corvel::SetChipRegistryPresent(false);
  Receive(BoardFrame(64, 2, {0, 0, 1}));
  EXPECT_EQ(host.TakeWire().size(), 12u);
  EXPECT_FALSE(main->Wait(20ms));
}

TEST_F(CommandSetTest, VersionRecordCarriesThreeStringsEvenWhenMalformed) {
  struct Case {
    Bytes payload;
    std::array<std::string, 3> strings;
  };
  const Case cases[] = {
      {{'A', 0, 'B', 'b', 0, 'V', '1', 0}, {"A", "Bb", "V1"}},
      {{'A', 0, 'B', 0, 'V', '1'}, {"A", "B", "V1"}},  // last string not terminated
      {{'A', 0}, {"A", "", ""}},
      {{}, {"", "", ""}},
      {{0, 0, 0}, {"", "", ""}},
  };
  for (const Case& c : cases) {
    main->Drain();
    Receive(BoardFrame(1, 33, c.payload));
    auto m = main->WaitFor(kMsgFirmwareVersion, 100ms);
    ASSERT_TRUE(m);
    const auto* record = m->PayloadAs<VersionRecord>();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->strings, c.strings);
  }
}

TEST_F(CommandSetTest, TimedSendersRestartTheReplyTimer) {
  const std::uint8_t a = 0x59;
  ASSERT_EQ(SendChipCommand(10, &a, 1), 1);
  EXPECT_EQ(SentPayload(), Bytes{0x59});
  auto log = main->TimerLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_FALSE(log[0].set);
  EXPECT_EQ(log[0].id, kReplyTimerId);
  EXPECT_TRUE(log[1].set);
  EXPECT_EQ(log[1].periodMs, kReplyTimeoutMs);

  main->ClearTimerLog();
  const std::uint8_t any = 0;
  SendSystemCommand(32, &any);
  const std::uint8_t zero = 0;
  SendBootCommand(1, &zero, 1);
  EXPECT_EQ(main->TimerLog().size(), 4u);
  EXPECT_EQ(main->ArmedTimers().at(kReplyTimerId), kReplyTimeoutMs);
}

TEST_F(CommandSetTest, TimerIsArmedEvenWhenTheEngineRefuses) {
  const std::uint8_t a = 0x59;
  for (int i = 0; i < 64; ++i) SendCommand(64, 10, 1, &a);
  main->ClearTimerLog();
  EXPECT_EQ(SendChipCommand(10, &a, 1), 0);
  EXPECT_EQ(main->TimerLog().size(), 2u);
}

TEST_F(CommandSetTest, NothingIsSentOrArmedWithoutTheProtocolObject) {
  g_pProtocol = nullptr;
  const std::uint8_t a = 0x59;
  std::uint8_t record[6] = {1, 0x5B, 0x00, 1, 0, 0};
  const std::uint8_t header[4] = {1, 0, 0, 0};
  EXPECT_EQ(SendChipCommand(10, &a, 1), 0);
  EXPECT_EQ(SendChipCommandBlock(1, header, nullptr), 0);
  EXPECT_EQ(SendI2cRequest(1, record), 0);
  EXPECT_EQ(SendI2cTransfer(3, record, &a), 0);
  EXPECT_EQ(engine().SendHandshake(), 0);
  EXPECT_TRUE(host.TakeWire().empty());
  EXPECT_TRUE(main->TimerLog().empty());
}

TEST_F(CommandSetTest, I2cSendersFillInTheBusSpeedAndLeaveTheTimerAlone) {
  g_i2cSpeed = kI2cSpeed1M;
  std::uint8_t request[6] = {0x01, 0x5B, 0x5F, 0x01, 0x77, 0x66};
  ASSERT_EQ(SendI2cRequest(1, request), 1);
  EXPECT_EQ(SentPayload(), (Bytes{0x01, 0x5B, 0x5F, 0x01, 0x0A, 0x66}));
  EXPECT_EQ(request[4], 0x0A);

  engine().ResetLink();
  g_i2cSpeed = kI2cSpeed400K;
  std::uint8_t header[6] = {0x01, 0x5B, 0x20, 4, 0, 0};
  const std::uint8_t data[4] = {9, 8, 7, 6};
  ASSERT_EQ(SendI2cTransfer(3, header, data), 1);
  EXPECT_EQ(SentPayload(), (Bytes{0x01, 0x5B, 0x20, 4, 4, 0, 9, 8, 7, 6}));
  EXPECT_TRUE(main->TimerLog().empty());
}

TEST_F(CommandSetTest, I2cTransferLongerThanOneSizeByteIsRefused) {
  std::vector<std::uint8_t> data(250, 0x11);
  std::uint8_t header[6] = {0x01, 0x5B, 0x00, 250, 0, 0};
  EXPECT_EQ(SendI2cTransfer(3, header, data.data()), 0);
  EXPECT_TRUE(host.TakeWire().empty());
  header[3] = 249;
  EXPECT_EQ(SendI2cTransfer(3, header, data.data()), 1);
  EXPECT_EQ(SentPayload().size(), 255u);
}

TEST_F(CommandSetTest, ChipCommandBlockSendsHeaderAndAnnouncedData) {
  const std::uint8_t queryHeader[4] = {3, 0, 0, 0};
  ASSERT_EQ(SendChipCommandBlock(1, queryHeader, nullptr), 1);
  EXPECT_EQ(SentPayload(), (Bytes{3, 0, 0, 0}));

  engine().ResetLink();
  const std::uint8_t dataHeader[4] = {3, 2, 3, 0};
  const std::uint8_t data[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(SendChipCommandBlock(1, dataHeader, data), 1);
  EXPECT_EQ(SentPayload(), (Bytes{3, 2, 3, 0, 1, 2, 3}));
}
