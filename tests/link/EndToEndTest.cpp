#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "link/CommandSet.h"
#include "support/SimLinkFixture.h"

using namespace std::chrono_literals;
using namespace platform;

class EndToEndTest : public SimLinkFixture {};

TEST_F(EndToEndTest, HandshakeThenRegisterRoundTrip) {
  ConnectLinked();
  std::uint8_t write[6] = {1, 0x5B, 0x20, 2, 0, 0};
  const std::uint8_t data[2] = {0x10, 0x20};
  ASSERT_EQ(SendI2cTransfer(kCmdWriteRegisters, write, data), 1);
  auto ack = Await(kMsgRegisterWritten);
  ASSERT_TRUE(ack && ack->Bytes());
  EXPECT_EQ(*ack->Bytes(), (std::vector<std::uint8_t>{1, 0x5B, 0x20, 2, 4, 0, 0x10, 0x20}));
  EXPECT_EQ(board->Register(0x20), 0x10);
  EXPECT_EQ(board->Register(0x21), 0x20);

  std::uint8_t read[6] = {1, 0x5B, 0x20, 2, 0, 0};
  ASSERT_EQ(SendI2cRequest(kCmdReadRegisters, read), 1);
  auto reply = Await(kMsgRegisterRead);
  ASSERT_TRUE(reply && reply->Bytes());
  const auto& bytes = *reply->Bytes();
  ASSERT_EQ(bytes.size(), 8u);
  EXPECT_EQ(bytes[6], 0x10);
  EXPECT_EQ(bytes[7], 0x20);
}

TEST_F(EndToEndTest, VersionAndBoardIdComeBackThroughTheWholeStack) {
  ConnectLinked();
  const std::uint8_t header[4] = {4, 0, 0, 0};
  SendChipCommandBlock(kCmdBoardData, header, nullptr);
  auto id = Await(kMsgBoardQueryOk);
  ASSERT_TRUE(id && id->Bytes() && id->Bytes()->size() >= 3);
  EXPECT_EQ((*id->Bytes())[2], 1);
  const std::uint8_t any = 0;
  SendSystemCommand(kCmdVersionQuery, &any);
  auto version = Await(kMsgFirmwareVersion);
  ASSERT_TRUE(version);
  ASSERT_TRUE(version->PayloadAs<VersionRecord>());
  EXPECT_EQ(version->PayloadAs<VersionRecord>()->strings[2], "V1.3.0");
}

TEST_F(EndToEndTest, InterruptFromTheBoardReachesTheWindow) {
  ConnectLinked();
  board->RaiseInterrupt(1);
  auto m = Await(kMsgInterrupt);
  ASSERT_TRUE(m && m->Bytes());
  EXPECT_EQ((*m->Bytes())[0], 1);
}

