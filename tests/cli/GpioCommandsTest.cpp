// corvelctl gpio and sim drive against the simulated board: what reaches the
// simulated chip, what is printed, and which arguments are refused.
#include <gtest/gtest.h>

#include "support/ChipRun.h"

namespace {
using Bytes = std::vector<std::uint8_t>;
using Write = std::pair<int, Bytes>;
// Output of a batch after its set-up commands.
std::string Tail(const std::string& out, std::size_t lines) {
  std::size_t pos = out.size();
  for (std::size_t n = 0; n <= lines && pos != std::string::npos && pos > 0; ++n) pos = out.rfind('\n', pos - 1);
  return pos == std::string::npos ? out : out.substr(pos + 1);
}
}  // namespace

TEST(GpioCommandsTest, ReadShowsBothPortsAsHexAndBits) {
  auto r = RunOnChip({"--sim", "batch", "mode gpio", "gpio dir input", "sim drive P0_0=low P0_2=low P1_7=low",
                      "gpio read"});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  EXPECT_EQ(Tail(r.result.out, 2), "P0D1: 0xfa\tbits 7..0: 11111010\nP1D1: 0x7f\tbits 7..0: 01111111\n");

  r = RunOnChip({"--sim", "--json", "batch", "sim drive all=low P1_0=high", "gpio read"});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  EXPECT_EQ(Tail(r.result.out, 1), "{\"port0\":0,\"port1\":1,\"bits0\":\"00000000\",\"bits1\":\"00000001\"}\n");
}

TEST(GpioCommandsTest, OutSetsTheNamedPinsByTheBoardsMappingAndKeepsTheOthers) {
  auto r = RunOnChip({"--sim", "batch", "mode gpio", "gpio dir output", "gpio drive push-pull", "gpio out 3=high 5=high",
                      "gpio out 3=low 1=high"});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  EXPECT_NE(r.result.out.find("Pins high: 3 5 (0x02 = 0x02, 0x03 = 0x08).\n"), std::string::npos) << r.result.out;
  EXPECT_EQ(Tail(r.result.out, 1), "Pins high: 1 5 (0x02 = 0x02, 0x03 = 0x02).\n");
  EXPECT_EQ(r.writes.back(), (Write{0x02, {0x02, 0x02}}));
  EXPECT_EQ(r.pins.levels & 0x0202, 0x0202);  // P0_1 and P1_1 driven high by the chip

  r = RunOnChip({"--sim=0", "--json", "gpio", "out", "9=high"});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  EXPECT_EQ(r.result.out, "{\"high\":[9],\"output_levels\":[2,0]}\n");

  // No mapping on the QV6034: refused rather than writing levels nobody
  // asked for, before a batch's earlier steps write anything.
  for (const auto& args : std::vector<std::vector<std::string>>{{"--sim=128", "gpio", "out", "4=high"},
                                                                {"--sim=128", "batch", "mode gpio", "gpio out 4=high"}}) {
    r = RunOnChip(args);
    EXPECT_EQ(r.result.rc, 1);
    EXPECT_NE(r.result.err.find("has no output level mapping"), std::string::npos) << r.result.err;
    EXPECT_TRUE(r.writes.empty()) << args[1];
  }
}

TEST(GpioCommandsTest, IrqAndDriveChangeOnlyTheirBits) {
  auto r = RunOnChip({"--sim=0", "batch", "gpio irq 9=disable 0=disable", "gpio irq 0=enable 15=disable",
                      "reg write 0x11 0x1F", "gpio drive open-drain"});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  // Board 0 wires pins 8..15 to P0_0..P0_7: the interrupt bits follow.
  EXPECT_EQ(r.reg[0x06], 0x82);
  EXPECT_EQ(r.reg[0x07], 0x00);
  EXPECT_NE(r.result.out.find("Interrupts disabled on pins: 9 15 (0x06 = 0x82, 0x07 = 0x00).\n"), std::string::npos);
  EXPECT_EQ(Tail(r.result.out, 1), "Output driver open-drain: register 0x11 0x1F -> 0x0F.\n");
  EXPECT_EQ(r.reg[0x11], 0x0F);

  r = RunOnChip({"--sim", "--json", "gpio", "drive", "push-pull"});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  EXPECT_EQ(r.result.out, "{\"driver\":\"push-pull\",\"before\":0,\"after\":16}\n");
  EXPECT_EQ(r.writes.back(), (Write{0x11, {0x10}}));
}

TEST(GpioCommandsTest, WaitIrqCatchesAReportFromADrivenInput) {
  const std::vector<std::string> setUp{"--sim", "--timeout", "400", "batch", "mode gpio", "gpio dir input"};
  auto run = [&](std::vector<std::string> steps) {
    std::vector<std::string> args = setUp;
    args.insert(args.end(), steps.begin(), steps.end());
    return RunOnChip(args);
  };
  // The report comes during 'sim drive' and still counts for the wait after it.
  // Pin 3 of the default board is P1_3.
  auto r = run({"gpio irq 3=enable", "sim drive P1_3=low", "gpio wait-irq"});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  EXPECT_EQ(Tail(r.result.out, 1), "Interrupt reported.\n");

  // Each report is waited for once; a pin whose interrupt is disabled reports nothing.
  r = run({"gpio irq 3=disable", "sim drive P1_3=low P0_4=low", "gpio wait-irq", "gpio wait-irq"});
  EXPECT_EQ(r.result.rc, 1);
  EXPECT_NE(r.result.err.find("No interrupt report within 400 ms."), std::string::npos) << r.result.err;
  EXPECT_EQ(std::count(r.result.out.begin(), r.result.out.end(), '\n') - 4, 1) << r.result.out;
}

TEST(GpioCommandsTest, BadArgumentsAreUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{"--sim", "gpio"}, "gpio needs read, out, drive, irq, dir or wait-irq"},
      {{"--sim", "gpio", "blink"}, "not 'blink'"},
      {{"--sim", "gpio", "read", "now"}, "unexpected argument 'now'"},
      {{"--sim", "gpio", "out"}, "usage: gpio out PIN=high|low"},
      {{"--sim", "gpio", "out", "3"}, "(not '3')"},
      {{"--sim", "gpio", "out", "3=on"}, "(not '3=on')"},
      {{"--sim", "gpio", "out", "16=high"}, "PIN must be a number from 0 to 15"},
      {{"--sim", "gpio", "out", "6=high"}, "pin 6 is not on this board: the QV6033 has pins 0..5"},
      {{"--sim", "batch", "reg write 0x20 1", "gpio out 9=high"}, "pin 9 is not on this board: the QV6033 has pins 0..5"},
      {{"--sim=3", "batch", "mode gpio", "gpio irq 3=enable", "gpio irq 12=enable"},
       "pin 12 is not on this board: the QV6032 has pins 0..9"},
      {{"--sim", "gpio", "irq", "2=off"}, "usage: gpio irq PIN=enable|disable"},
      {{"--sim", "gpio", "drive", "fast"}, "usage: gpio drive open-drain|push-pull"},
      {{"--sim", "gpio", "dir", "up"}, "usage: gpio dir input|output"},
      {{"--sim", "sim", "drive", "P2_0=low"}, "with PIN P0_0..P1_7 or all"},
      {{"--sim", "sim", "drive", "P0_0"}, "usage: sim drive"},
      {{"--sim", "sim", "pins"}, "usage: sim drive"},
      {{"sim", "drive", "P0_0=low"}, "sim drive needs the simulated board (--sim)"},
  };
  for (const Case& c : cases) {
    const auto r = RunOnChip(c.args);
    EXPECT_EQ(r.result.rc, 2) << c.says;
    EXPECT_NE(r.result.err.find(c.says), std::string::npos) << r.result.err;
    EXPECT_TRUE(r.writes.empty()) << c.says;
  }
}
