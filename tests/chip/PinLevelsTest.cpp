#include <gtest/gtest.h>

#include <string>

#include "chip/BoardSummary.h"
#include "chip/InterruptLog.h"
#include "chip/PinLevels.h"

using namespace chip;

namespace {
// "HL?..." for the first `n` pins.
std::string Show(const PinLevelArray& levels, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    const auto& l = levels[static_cast<std::size_t>(i)];
    s += !l ? '?' : *l ? 'H' : 'L';
  }
  return s;
}
}  // namespace

TEST(PinLevelsTest, EachDrawingPinReadsThePortPinItIsWiredTo) {
  struct Case {
    const char* what;
    std::optional<std::uint8_t> port0, port1;
    int pins;
    std::uint8_t board;
    const char* expected;
  };
  const std::optional<std::uint8_t> none;
  const Case cases[] = {
      // 16 pins: 0-7 are P1_0-7, 8-15 are P0_0-7.
      {"board 5", 0x80, 0x01, 16, 5, "HLLLLLLLLLLLLLLH"},
      {"board 0", 0x0F, 0xF0, 16, 0, "LLLLHHHHHHHHLLLL"},
      // 6 outputs: 0-3 are P1_0-3, 4 and 5 are P0_0 and P0_1.
      {"board 1", 0x02, 0x08, 6, 1, "LLLHLH"},
      {"board 3", 0x3F, 0x00, 10, 3, "LLLLHHHHHH"},
      // No wiring: pin i is bit i, port 0 first.
      {"board 128", 0x01, 0x80, 16, 128, "HLLLLLLLLLLLLLLH"},
      // A port not read leaves its pins unknown, not low.
      {"port 1 not read", 0xFF, none, 16, 5, "????????HHHHHHHH"},
      {"nothing read", none, none, 6, 1, "??????"},
  };
  for (const Case& c : cases) {
    const auto levels = InputPinLevels(c.port0, c.port1, c.pins, c.board);
    EXPECT_EQ(Show(levels, 16).substr(0, static_cast<std::size_t>(c.pins)), c.expected) << c.what;
    // Pins the board does not have stay unknown.
    EXPECT_EQ(Show(levels, 16).substr(static_cast<std::size_t>(c.pins)), std::string(16 - c.pins, '?')) << c.what;
  }
  EXPECT_EQ(ChangedPins(InputPinLevels(0x00, 0x01, 16, 5), InputPinLevels(0x80, 0x00, 16, 5)), 0x8001);
  // Unknown before or after is no change.
  EXPECT_EQ(ChangedPins(InputPinLevels(std::nullopt, 0x01, 16, 5), InputPinLevels(0x80, 0x01, 16, 5)), 0);
}

TEST(InterruptLogTest, BoundedNumberedLatchedUntilSeen) {
  InterruptLog log;
  const PinLevelArray unknown{};
  for (int i = 0; i < static_cast<int>(InterruptLog::kCapacity) + 5; ++i) log.Add(1000 + i, unknown);
  // The list keeps the newest; the count keeps them all.
  ASSERT_EQ(log.Entries().size(), InterruptLog::kCapacity);
  EXPECT_EQ(log.Entries().front().number, 6u);
  EXPECT_EQ(log.Entries().back().number, InterruptLog::kCapacity + 5);
  EXPECT_EQ(log.Entries().back().timeMs, 1000 + static_cast<int>(InterruptLog::kCapacity) + 4);
  EXPECT_EQ(log.Count(), InterruptLog::kCapacity + 5);
  EXPECT_EQ(log.Unseen(), InterruptLog::kCapacity + 5);

  const auto unseenVersion = log.Version();
  log.MarkSeen();
  EXPECT_EQ(log.Unseen(), 0u);
  EXPECT_NE(log.Version(), unseenVersion);  // a view must redraw them as seen
  EXPECT_EQ(log.Count(), InterruptLog::kCapacity + 5);  // looking is not clearing
  log.Add(5000, unknown);
  EXPECT_EQ(log.Unseen(), 1u);

  const auto before = log.Version();
  log.Clear();
  EXPECT_TRUE(log.Entries().empty());
  EXPECT_EQ(log.Count(), 0u);
  EXPECT_EQ(log.Unseen(), 0u);
  EXPECT_NE(log.Version(), before);
  log.Add(6000, unknown);
  EXPECT_EQ(log.Entries().back().number, 1u);
}

TEST(InterruptLogTest, TheNextReadingOfThePortsSaysWhichPinsChanged) {
  InterruptLog log;
  log.Add(1, InputPinLevels(0x00, 0x00, 16, 5));
  log.Add(2, InputPinLevels(0x00, 0x00, 16, 5));
  EXPECT_FALSE(log.Entries().back().changed);
  log.PortsRead(InputPinLevels(0x00, 0x05, 16, 5));  // P1_0 and P1_2: pins 0 and 2
  for (const auto& e : log.Entries()) EXPECT_EQ(e.changed, std::uint16_t{0x0005});
  // A later reading does not rewrite what an earlier interrupt changed.
  log.PortsRead(InputPinLevels(0xFF, 0xFF, 16, 5));
  EXPECT_EQ(log.Entries().front().changed, std::uint16_t{0x0005});
  EXPECT_TRUE(log.Entries().front().Comparable());
  // Levels not known when the interrupt came: nothing to compare, no pin named.
  log.Add(3, PinLevelArray{});
  log.PortsRead(InputPinLevels(0x00, 0x00, 16, 5));
  EXPECT_EQ(log.Entries().back().changed, std::uint16_t{0});
  EXPECT_FALSE(log.Entries().back().Comparable());
}

TEST(BoardSummaryTest, NamesTheBoardTheChipAndTheLink) {
  struct Case {
    const char* what;
    BoardFacts facts;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"nothing identified", {std::nullopt, 0x5B, 4, "V1.3.0", "/dev/hidraw3", "7"}, {"Board: none identified"}},
      {"board 128 with everything",
       {128, 0x58, 10, "V1.3.0", "/dev/hidraw3", "0042"},
       {"Board: QV6034 (id 128)", "Chip at 0x58, 1M", "Firmware: V1.3.0", "Device: /dev/hidraw3", "Serial: 0042"}},
      {"no serial, no firmware yet", {5, 0x5B, 4, "", "sim:1", ""}, {"Board: QV6035 (id 5)", "Chip at 0x5B, 400K", "Device: sim:1"}},
      {"an id the program does not know", {2, 0x5A, 7, "", "", ""}, {"Board: unknown (id 2)", "Chip at 0x5A, ?"}},
  };
  for (const Case& c : cases) EXPECT_EQ(BoardSummaryLines(c.facts), c.lines) << c.what;
}
