#include <gtest/gtest.h>

#include <vector>

#include "chip/ChipAccess.h"
#include "chip/RegisterMap.h"

using namespace chip;

TEST(RegisterMapTest, CurrentRangeCodes) {
  struct Case {
    int milliamps;
    std::uint8_t code;
  };
  // 0 wraps to code 0: the division gives 4, and only two bits reach the chip.
  for (const Case c : {Case{40, 0}, Case{35, 0}, Case{31, 0}, Case{30, 1}, Case{25, 1}, Case{21, 1}, Case{20, 2},
                       Case{11, 2}, Case{10, 3}, Case{4, 3}, Case{1, 3}, Case{0, 0}})
    EXPECT_EQ(CurrentRangeCode(c.milliamps), c.code) << c.milliamps << " mA";
  EXPECT_EQ(CurrentRangeMilliamps(0), 40);
  EXPECT_EQ(CurrentRangeMilliamps(3), 10);
}

TEST(RegisterMapTest, TimeBytesPutOnInTheLowBitsAndOffAboveThem) {
  const auto code = [](const char* text) { return *TimeCodeFromText(text); };
  EXPECT_EQ(TimeByte(code("315ms"), code("1260ms")), 0x19);  // ramp on 315, ramp off 1260
  EXPECT_EQ(TimeByte(code("5040ms"), code("630ms")), 0x15);  // keep on 5040, keep off 630
  EXPECT_EQ(TimeByte(code("0ms"), code("0ms")), 0x00);
  EXPECT_EQ(TimeByte(7, 7), 0x3F);  // bits 7..6 stay clear
  EXPECT_EQ(code("2520"), 4);
  EXPECT_FALSE(TimeCodeFromText("300ms"));
  EXPECT_FALSE(TimeCodeFromText(""));
  EXPECT_EQ(DecodeTimeByte(0x19), std::make_pair(std::uint8_t{1}, std::uint8_t{3}));
  EXPECT_FALSE(TimeCodeMilliseconds(6));
}

TEST(RegisterMapTest, PinBitMappings) {
  struct Case {
    std::vector<int> pins;
    int pinCount;
    std::uint8_t boardId;
    std::array<std::uint8_t, 2> interrupt;  // 0x06, 0x07
    std::array<std::uint8_t, 2> output;     // 0x02, 0x03
  };
  const Case cases[] = {
      // A drawing pin is one physical pin: its interrupt bit is the bit of the
      // port pin its output level goes to (pin 0 is P1_0 on these boards).
      {{9}, 16, 0, {0x02, 0x00}, {0x02, 0x00}},
      {{0, 5}, 6, 1, {0x02, 0x01}, {0x02, 0x01}},
      {{3, 5}, 6, 1, {0x02, 0x08}, {0x02, 0x08}},
      {{3, 9}, 10, 3, {0x20, 0x08}, {0x20, 0x08}},
      {{7, 8, 15}, 16, 5, {0x81, 0x80}, {0x81, 0x80}},
      {{0, 15}, 16, 128, {0x01, 0x80}, {0x00, 0x00}},  // no output mapping for this board
      {{12}, 6, 1, {0x00, 0x00}, {0x00, 0x00}},         // past the board's pins: ignored
  };
  for (const Case& c : cases) {
    std::array<std::uint8_t, 16> marked{};
    for (int p : c.pins) marked[static_cast<std::size_t>(p)] = 1;
    EXPECT_EQ(InterruptDisableBytes(marked, c.pinCount, c.boardId), c.interrupt) << "board " << int(c.boardId);
    EXPECT_EQ(OutputLevelBytes(marked, c.pinCount, c.boardId), c.output) << "board " << int(c.boardId);
    // And back, for commands that keep the pins they do not name.
    std::array<std::uint8_t, 16> onBoard{};
    for (int p : c.pins)
      if (p < c.pinCount) onBoard[static_cast<std::size_t>(p)] = 1;
    EXPECT_EQ(InterruptDisabledPins(c.interrupt, c.pinCount, c.boardId), onBoard) << "board " << int(c.boardId);
    if (HasOutputLevelMapping(c.boardId))
      EXPECT_EQ(OutputLevelPins(c.output, c.pinCount, c.boardId), onBoard) << "board " << int(c.boardId);
  }
  EXPECT_EQ(OutputLevelPins({0xFF, 0xFF}, 16, 128), (std::array<std::uint8_t, 16>{}));
}

TEST(RegisterMapTest, PortInputTexts) {
  EXPECT_EQ(PortInputText(0, 0xA5), "P0D1: 0xa5");
  EXPECT_EQ(PortInputText(1, 0x00), "P1D1: 0x0");
  EXPECT_EQ(PortInputText(0, 0x05), "P0D1: 0x5");
}

TEST(RegisterMapTest, DriverTypeChangesOnlyBitFour) {
  EXPECT_EQ(WithDriverType(0x1F, false), 0x0F);
  EXPECT_EQ(WithDriverType(0x00, true), 0x10);
  EXPECT_EQ(WithDriverType(0xEF, true), 0xFF);
}

TEST(RegisterMapTest, DescribedValues) {
  EXPECT_EQ(DescribeValue(0x15, 0x19), "ramp on 315 ms, ramp off 1260 ms");
  EXPECT_EQ(DescribeValue(0x16, 0x3E), "keep on code 6 (no time), keep off code 7 (no time)");
  EXPECT_EQ(DescribeValue(0x11, 0x11), "current range 1 (up to 30 mA), push-pull");
  EXPECT_EQ(DescribeValue(0x22, 128), "128 (50 %)");
  EXPECT_EQ(DescribeValue(0x12, 0xFF), "GPIO");
  EXPECT_EQ(DescribeValue(0x30, 0x12), "");
  for (const RegisterInfo& r : RegisterTable()) EXPECT_EQ(FindRegister(r.address), &r);
  EXPECT_EQ(FindRegister(0x08), nullptr);
}

TEST(RegisterMapTest, RepliesAreNeverReadPastTheirEnd) {
  using Bytes = std::vector<std::uint8_t>;
  const Bytes ok{1, 0x5B, 0x11, 2, 4, 0, 0xAA, 0xBB};
  const auto reply = ParseRegisterReply(ok);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->first, 0x11);
  EXPECT_EQ(Bytes(reply->data.begin(), reply->data.end()), (Bytes{0xAA, 0xBB}));
  EXPECT_TRUE(reply->Covers(0x12));
  EXPECT_FALSE(reply->Covers(0x13));
  EXPECT_FALSE(ParseRegisterReply(Bytes{1, 0x5B, 0x11, 3, 4, 0, 0xAA, 0xBB}));  // announces more than it has
  EXPECT_FALSE(ParseRegisterReply(Bytes{1, 0x5B, 0x11}));                       // no whole record

  ReplyWait wait;
  EXPECT_FALSE(wait.Take(*reply));  // not waiting: a reply for someone else
  wait.Expect(0x00);
  EXPECT_FALSE(wait.Take(*reply));  // another register
  EXPECT_TRUE(wait.Waiting());
  wait.Expect(0x11);
  EXPECT_TRUE(wait.Take(*reply));
  EXPECT_FALSE(wait.Waiting());
  EXPECT_FALSE(wait.Take(*reply));  // taken once
}

TEST(RegisterMapTest, NothingIsSentWithoutAnIdentifiedBoard) {
  g_bBoardMatched = 0;
  const std::array<std::uint8_t, 1> byte{0};
  EXPECT_EQ(WriteChipRegisters(0x14, byte), 0);
  EXPECT_EQ(ReadChipRegisters(0x00, 1), 0);
  g_bBoardMatched = 1;  // matched, but no link
  EXPECT_FALSE(AccessAllowed());
  EXPECT_EQ(WriteChipRegisters(0x14, byte), 0);
  g_bBoardMatched = 0;
}
