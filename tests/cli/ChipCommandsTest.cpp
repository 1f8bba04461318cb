// corvelctl's chip commands against the simulated board: what reaches the
// simulated chip's registers, and which arguments are refused before anything
// is sent.
#include <gtest/gtest.h>

#include "support/ChipRun.h"

TEST(ChipCommandsTest, LedSetsTheBrightnessBlockAfterStoppingTheEffect) {
  auto r = RunOnChip({"--sim", "led", "128"});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  EXPECT_EQ(r.result.out, "LEDs 0 1 2 3 4 5: brightness 128 (50 %)\n");
  ASSERT_EQ(r.writes.size(), 2u);
  EXPECT_EQ(r.writes[0], (std::pair<int, std::vector<std::uint8_t>>{0x14, {0x00}}));
  EXPECT_EQ(r.writes[1], (std::pair<int, std::vector<std::uint8_t>>{0x20, std::vector<std::uint8_t>(6, 128)}));

  // Named LEDs change alone; the others keep what the chip holds.
  r = RunOnChip({"--sim=3", "batch", "led 40", "led 100% 2 9"});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  for (int led = 0; led < 10; ++led) EXPECT_EQ(r.reg[0x20 + led], led == 2 || led == 9 ? 255 : 40) << led;
  EXPECT_EQ(r.reg[0x2A], 0);  // past the ten LEDs of this board

  r = RunOnChip({"--sim", "--json", "led", "0", "5"});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  EXPECT_EQ(r.result.out, "{\"brightness\":0,\"percent\":0,\"leds\":[5]}\n");
}

TEST(ChipCommandsTest, ModeCurrentAndReset) {
  auto r = RunOnChip({"--sim", "batch", "mode gpio", "current 25"});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  EXPECT_EQ(r.reg[0x12], 0xFF);
  EXPECT_EQ(r.reg[0x13], 0xFF);
  EXPECT_EQ(r.reg[0x11], 0x01);

  r = RunOnChip({"--sim", "batch", "mode gpio", "mode led", "current 10"});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  EXPECT_EQ(r.reg[0x12], 0x00);
  EXPECT_EQ(r.reg[0x11], 0x03);
  EXPECT_EQ(r.writes.back(), (std::pair<int, std::vector<std::uint8_t>>{0x11, {0x03}}));

  r = RunOnChip({"--sim", "batch", "led 77", "current 30", "reset"});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  EXPECT_EQ(r.writes.back(), (std::pair<int, std::vector<std::uint8_t>>{0x7F, {0x00}}));
  EXPECT_EQ(r.reg[0x20], 0);
  EXPECT_EQ(r.reg[0x11], 0);
  EXPECT_NE(r.result.out.find("Chip reset."), std::string::npos);
}

TEST(ChipCommandsTest, OutOfRangeArgumentsAreUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{"--sim", "led"}, "usage: led"},
      {{"--sim", "led", "256"}, "BRIGHTNESS must be a number from 0 to 255"},
      {{"--sim", "led", "101%"}, "BRIGHTNESS in percent must be a number from 0 to 100"},
      {{"--sim", "led", "10", "16"}, "LED must be a number from 0 to 15"},
      {{"--sim", "led", "10", "6"}, "LED 6 is not on this board: the QV6033 has LEDs 0..5"},
      // A later step the board cannot take stops the batch before its first step writes.
      {{"--sim", "batch", "reg write 0x20 1", "led 50% 7"}, "LED 7 is not on this board: the QV6033 has LEDs 0..5"},
      {{"--sim=3", "batch", "mode led", "led 1 2", "led 9 10"}, "LED 10 is not on this board: the QV6032 has LEDs 0..9"},
      {{"--sim", "mode", "pwm"}, "usage: mode led|gpio"},
      {{"--sim", "current", "0"}, "MILLIAMPS must be a number from 1 to 40"},
      {{"--sim", "current", "41"}, "MILLIAMPS must be a number from 1 to 40"},
      {{"--sim", "reset", "now"}, "unexpected argument 'now'"},
  };
  for (const Case& c : cases) {
    const auto r = RunOnChip(c.args);
    EXPECT_EQ(r.result.rc, 2) << c.args.back();
    EXPECT_NE(r.result.err.find(c.says), std::string::npos) << r.result.err;
    EXPECT_TRUE(r.writes.empty()) << c.args.back();
    EXPECT_EQ(r.result.out, "") << c.args.back();
  }
  // An unknown board is refused register access: a device failure, not usage.
  const auto r = RunOnChip({"--sim=2", "reset"});
  EXPECT_EQ(r.result.rc, 1);
  EXPECT_TRUE(r.writes.empty());
}
