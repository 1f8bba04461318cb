// The recorder's translation of register traffic into corvelctl commands:
// a readable command only where it writes the very bytes the window wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "setup/ScriptRecorder.h"

namespace {

struct Event {
  enum Kind { kWrite, kRead } kind = kWrite;
  std::uint8_t reg = 0;
  std::vector<std::uint8_t> data;  // for a read: empty
  bool blink = false, fade = false;
};
Event W(std::uint8_t reg, std::vector<std::uint8_t> data) { return {Event::kWrite, reg, std::move(data)}; }
Event R(std::uint8_t reg) { return {Event::kRead, reg, {}}; }
Event Blink(Event e) { e.blink = true; return e; }
Event Fade(Event e) { e.fade = true; return e; }

// Plays the events with a chip model that learns from each write (as the
// journal does) and starts from `known`.
std::vector<std::string> Record(const std::vector<Event>& events, std::map<int, std::uint8_t> known = {},
                                std::uint8_t board = 1, std::optional<int> typed = std::nullopt) {
  std::vector<std::string> lines;
  setup::ScriptRecorder recorder([&](const std::string& line) { lines.push_back(line); });
  for (const Event& e : events) {
    if (e.kind == Event::kRead) {
      recorder.Read(e.reg, 1);
      continue;
    }
    setup::RecordContext c;
    c.boardId = board;
    c.ledCount = board == 1 ? 6 : board == 3 ? 10 : 16;
    c.blinkActive = e.blink;
    c.fadeActive = e.fade;
    c.typedCurrent = typed;
    c.known = [&](std::uint8_t reg) -> std::optional<std::uint8_t> {
      const auto it = known.find(reg);
      return it == known.end() ? std::nullopt : std::optional(it->second);
    };
    recorder.Write(e.reg, e.data, c);
    for (std::size_t i = 0; i < e.data.size(); ++i) known[e.reg + static_cast<int>(i)] = e.data[i];
  }
  recorder.Finish();
  return lines;
}

using Lines = std::vector<std::string>;

TEST(ScriptRecorderTest, PageActionsBecomeTheirCommands) {
  // The LED box: the mode, then 0x14 once the page hears it was written;
  // and with the brightness right after it.
  EXPECT_EQ(Record({W(0x12, {0, 0}), W(0x14, {0})}, {}, 1, 2), (Lines{"mode led"}));
  // With a write between them, the command would put it after both: the
  // writes are recorded in the window's order.
  EXPECT_EQ(Record({W(0x12, {0, 0}), W(0x11, {0x03}), W(0x14, {0})}, {}, 1, 2),
            (Lines{"# 0x12 LED; 0x13 LED", "reg write 0x12 0x00 0x00", "current 2", "# 0x14 stopped", "reg write 0x14 0x00"}));
  // A block right after it is its bytes: 'led' would write 0x14 once more.
  EXPECT_EQ(Record({W(0x12, {0, 0}), W(0x14, {0}), W(0x20, {7, 7, 7, 7, 7, 7})}),
            (Lines{"mode led", "# the LEDs' brightness, one value per LED", "reg write 0x20 0x07 0x07 0x07 0x07 0x07 0x07"}));
  // A reset between them is not to be moved across.
  EXPECT_EQ(Record({W(0x12, {0, 0}), W(0x7F, {0}), W(0x14, {0})}).at(1), "reg write 0x12 0x00 0x00");
  // The GPIO box writes the mode twice (the dial's page closing, then the
  // box) and the direction: a line for each write, so that the replay
  // writes what the window wrote, write for write.
  EXPECT_EQ(Record({W(0x12, {0xFF, 0xFF}), W(0x12, {0xFF, 0xFF}), W(0x04, {0xFF, 0xFF}), W(0x04, {0, 0})}),
            (Lines{"mode gpio", "mode gpio", "gpio dir input", "gpio dir output"}));
  // Brightness: one command for the block, so that the replay writes what
  // the window wrote, write for write (no LED lit to another value between
  // two commands): one value for all; the LEDs that change, when they change
  // to one value and the chip is known to hold the others; else the block.
  const std::map<int, std::uint8_t> all255 = {{0x20, 255}, {0x21, 255}, {0x22, 255},
                                              {0x23, 255}, {0x24, 255}, {0x25, 255}};
  EXPECT_EQ(Record({W(0x14, {0}), W(0x20, {250, 250, 255, 255, 255, 255})}, all255), (Lines{"led 250 0 1"}));
  EXPECT_EQ(Record({W(0x14, {0}), W(0x20, {250, 250, 255, 255, 255, 255})}),
            (Lines{"# the LEDs' brightness, one value per LED", "reg write 0x14 0x00",
                   "reg write 0x20 0xFA 0xFA 0xFF 0xFF 0xFF 0xFF"}));
  EXPECT_EQ(Record({W(0x14, {0}), W(0x20, {255, 128, 255, 255, 128, 7})}, all255),
            (Lines{"# the LEDs' brightness, one value per LED", "reg write 0x14 0x00",
                   "reg write 0x20 0xFF 0x80 0xFF 0xFF 0x80 0x07"}));
  EXPECT_EQ(Record({W(0x12, {0, 0}), W(0x14, {0}), W(0x20, {7, 7, 7, 7, 7, 8})}),
            (Lines{"mode led", "# the LEDs' brightness, one value per LED", "reg write 0x20 0x07 0x07 0x07 0x07 0x07 0x08"}));
  // The same brightness written again is written again by the replay.
  EXPECT_EQ(Record({W(0x14, {0}), W(0x20, {9, 9, 9, 9, 9, 9}), W(0x14, {0}), W(0x20, {9, 9, 9, 9, 9, 9})}),
            (Lines{"led 9", "led 9"}));
  // The current as typed where it gives the byte written; the range's top otherwise.
  EXPECT_EQ(Record({W(0x11, {0x01})}, {}, 1, 25), (Lines{"current 25"}));
  EXPECT_EQ(Record({W(0x11, {0x00})}, {}, 1, 0), (Lines{"current 40"}));
  // The output page's driver change: bit 4 of what it has just read.
  EXPECT_EQ(Record({R(0x11), W(0x11, {0x13})}, {{0x11, 0x03}}), (Lines{"gpio drive push-pull"}));
  EXPECT_EQ(Record({R(0x11), W(0x11, {0x01})}, {{0x11, 0x11}}), (Lines{"gpio drive open-drain"}));
  EXPECT_EQ(Record({W(0x7F, {0})}), (Lines{"reset"}));
  // "read input state" reads port 0, then port 1 from its answer: one command, each time.
  EXPECT_EQ(Record({R(0x00), R(0x01), R(0x00), R(0x01)}), (Lines{"gpio read", "gpio read"}));
}

TEST(ScriptRecorderTest, PinsNameWhatChangesOrEveryPinWhenTheChipIsNotKnown) {
  // QV6033: pin 3 is bit 3 of 0x07.
  EXPECT_EQ(Record({W(0x06, {0x00, 0x08})}, {{0x06, 0}, {0x07, 0}}), (Lines{"gpio irq 3=disable"}));
  EXPECT_EQ(Record({W(0x06, {0x00, 0x08})}),
            (Lines{"gpio irq 0=enable 1=enable 2=enable 3=disable 4=enable 5=enable"}));
  EXPECT_EQ(Record({W(0x02, {0x02, 0x00}), W(0x02, {0x02, 0x08})}, {{0x02, 0}, {0x03, 0}}),
            (Lines{"gpio out 5=high", "gpio out 3=high"}));
  // Bits no pin of the board reaches: only the bytes themselves say it.
  EXPECT_EQ(Record({W(0x06, {0x80, 0x00})}), (Lines{"# 0x06 disabled pins: 7; 0x07 disabled pins: none", "reg write 0x06 0x80 0x00"}));
  // No output wiring on the QV6034.
  EXPECT_EQ(Record({W(0x02, {0x00, 0x00})}, {}, 128).back(), "reg write 0x02 0x00 0x00");
}

TEST(ScriptRecorderTest, EffectChainsBecomeOneCommandOnlyWhenComplete) {
  const std::map<int, std::uint8_t> times = {{0x15, 0x19}, {0x16, 0x15}, {0x11, 0x01}};
  // The command writes the times first: it stands for a chain only when the
  // window wrote them just before it.
  EXPECT_EQ(Record({W(0x15, {0x19}), W(0x16, {0x15}), Blink(W(0x14, {0xFF})), Blink(W(0x04, {0x03, 0x0F})), Blink(R(0x11)),
                    Blink(W(0x11, {0x81}))},
                   times),
            (Lines{"blink --ramp-on 315ms --ramp-off 1260ms --keep-on 5040ms --keep-off 630ms"}));
  EXPECT_EQ(Record({W(0x15, {0x19}), Fade(W(0x14, {0xFF})), Fade(W(0x04, {0, 0})), Fade(W(0x11, {0x7F})),
                    Fade(W(0x02, {0x00, 0x00}))},
                   times),
            (Lines{"fade off --ramp-on 315ms --ramp-off 1260ms"}));
  // Started on the times the chip holds: no times written, none replayed.
  const Lines chainAlone = Record({Blink(W(0x14, {0xFF})), Blink(W(0x04, {0x03, 0x0F})), Blink(W(0x11, {0x81}))}, times);
  EXPECT_EQ(std::count_if(chainAlone.begin(), chainAlone.end(), [](const std::string& l) { return l.rfind("#", 0) != 0; }), 3)
      << ::testing::PrintToString(chainAlone);
  EXPECT_EQ(chainAlone.back(), "reg write 0x11 0x81");
  // A chain that stopped half-way is what it wrote, byte for byte.
  EXPECT_EQ(Record({Blink(W(0x14, {0xFF})), Blink(W(0x04, {0x03, 0x0F})), W(0x11, {0x02})}, times),
            (Lines{"# 0x14 effect running", "reg write 0x14 0xFF", "# 0x04 input bits: 0 1; 0x05 input bits: 0 1 2 3",
                   "reg write 0x04 0x03 0x0F", "current 20"}));
  // Times the command cannot give (a zero time) leave the bytes too.
  EXPECT_EQ(Record({W(0x15, {0x10}), W(0x16, {0x15}), Blink(W(0x14, {0xFF})), Blink(W(0x04, {0x03, 0x0F})),
                    Blink(W(0x11, {0x80}))})
                .back(),
            "reg write 0x11 0x80");
  // A time byte with bits beyond its two codes (from the Registers page): the
  // command would write other bits, so the byte stays as it was written.
  const Lines extraBits = Record({W(0x15, {0x69}), Fade(W(0x14, {0xFF})), Fade(W(0x04, {0, 0})), Fade(W(0x11, {0x7F})),
                                  Fade(W(0x02, {0x00, 0x00}))},
                                 times);
  EXPECT_NE(std::find(extraBits.begin(), extraBits.end(), "reg write 0x15 0x69"), extraBits.end())
      << ::testing::PrintToString(extraBits);
  EXPECT_EQ(std::find_if(extraBits.begin(), extraBits.end(), [](const std::string& l) { return l.rfind("fade", 0) == 0; }),
            extraBits.end())
      << ::testing::PrintToString(extraBits);
}

TEST(ScriptRecorderTest, HeldWritesAreWrittenOutAtTheEnd) {
  EXPECT_EQ(Record({W(0x14, {0})}), (Lines{"# 0x14 stopped", "reg write 0x14 0x00"}));
  std::vector<std::string> lines;
  setup::ScriptRecorder recorder([&](const std::string& line) { lines.push_back(line); });
  setup::RecordContext c;
  recorder.Write(0x12, std::vector<std::uint8_t>{0, 0}, c);
  recorder.Address(0x59);  // the address command waits for nothing: what came before goes first
  EXPECT_EQ(lines, (Lines{"# 0x12 LED; 0x13 LED", "reg write 0x12 0x00 0x00", "address 0x59"}));
}

}  // namespace
