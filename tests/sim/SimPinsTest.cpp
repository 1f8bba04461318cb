// The simulated chip's pins: the level each pin has for its use, direction,
// driver and output bit, and the interrupt report that a change of what is
// outside a watched input makes the board send.
#include "sim/SimHostSide.h"

namespace simtest {
namespace {

using sim::PinMask;
using sim::PinRegisters;

TEST(SimPinsModelTest, EachPinReadsWhatItsUseMakesOfIt) {
  struct Case {
    const char* name;
    PinRegisters r;
    PinMask driven;
    PinMask levels;
  };
  const Case cases[] = {
      {"LED mode: what is outside", {}, 0x00F0, 0x00F0},
      {"GPIO inputs: what is outside", {.gpio = 0xFFFF, .input = 0xFFFF}, 0x1234, 0x1234},
      {"push-pull outputs: their own bits", {.gpio = 0xFFFF, .outputHigh = 0x00FF, .pushPull = true}, 0x0F0F, 0x00FF},
      // High lets go of the pin (outside decides), low pulls it low.
      {"open-drain outputs", {.gpio = 0xFFFF, .outputHigh = 0x00FF}, 0x0F0F, 0x000F},
      {"port 1 LED, port 0 half inputs, half push-pull outputs",
       {.gpio = 0x00FF, .input = 0x000F, .outputHigh = 0x00F0, .pushPull = true}, 0xA5A5, 0xA5F5},
  };
  for (const Case& c : cases) {
    sim::SimPins pins;
    pins.Drive(c.driven, c.r);
    EXPECT_EQ(pins.Levels(c.r), c.levels) << c.name;
    EXPECT_EQ(pins.PortLevels(0, c.r), c.levels & 0xFF) << c.name;
    EXPECT_EQ(pins.PortLevels(1, c.r), c.levels >> 8) << c.name;
  }
  EXPECT_EQ(sim::PinName(11), "P1_3");
  EXPECT_EQ(sim::PinFromName("p0_7"), 7);
  for (const char* bad : {"P2_0", "P0_8", "P03", "P0_10", ""}) EXPECT_FALSE(sim::PinFromName(bad)) << bad;
}

class SimPinsTest : public BoardFixture {
 protected:
  void Write(std::uint8_t reg, const Bytes& data) {
    const Reply r = Exchange(16, 3, Concat(I2cRecord(0x5B, reg, static_cast<std::uint8_t>(data.size())), data));
    ASSERT_EQ(r.cmd, 4);
  }
  std::uint8_t Port(std::uint8_t reg) {
    const Reply r = Exchange(16, 1, I2cRecord(0x5B, reg, 1));
    return r.payload.size() == 7 ? r.payload[6] : 0xEE;
  }
  void ExpectInterruptReport() {
    const Reply r = ReadReply();
    EXPECT_EQ(r.cls, 32);
    EXPECT_EQ(r.cmd, 37);
    EXPECT_EQ(r.payload, Bytes{1});
  }
};

TEST_F(SimPinsTest, AChangeOutsideAWatchedInputIsReported) {
  Write(0x12, {0xFF, 0xFF});
  Write(0x04, {0xFF, 0xFF});
  Write(0x06, {0x08, 0x00});  // pin P0_3's interrupt disabled
  EXPECT_TRUE(NothingQueued());  // setting the chip up raises nothing

  board_.DrivePin(3, false);
  EXPECT_TRUE(NothingQueued());
  EXPECT_EQ(Port(0x00), 0xF7);
  board_.DrivePin(9, false);
  ExpectInterruptReport();
  EXPECT_EQ(Port(0x01), 0xFD);
  board_.DrivePin(9, false);  // no change, no report
  EXPECT_TRUE(NothingQueued());

  // Outputs are not watched, and turning inputs into outputs is no input edge.
  Write(0x04, {0x00, 0x00});
  EXPECT_TRUE(NothingQueued());
  board_.DrivePin(9, true);
  EXPECT_TRUE(NothingQueued());
  EXPECT_EQ(Port(0x01), 0x00);  // open-drain outputs pulling low

  // The reset forgets the chip's settings, not what is outside its pins.
  Write(0x7F, {0x00});
  EXPECT_EQ(board_.Pins().driven, 0xFFF7);
  EXPECT_EQ(Port(0x00), 0xF7);

  // Setting a port register from a test is what is outside, without a report.
  Write(0x12, {0xFF, 0xFF});
  Write(0x04, {0xFF, 0xFF});
  board_.SetRegister(0x01, 0x3C);
  EXPECT_TRUE(NothingQueued());
  EXPECT_EQ(board_.Register(0x01), 0x3C);

  // Unplugged, nothing is sent; plugged again, the chip starts from its reset
  // (LED mode) and the pins read what is outside.
  board_.Unplug();
  board_.DrivePins(0x0000);
  board_.Plug();
  EXPECT_TRUE(NothingQueued());
  EXPECT_EQ(board_.Register(0x00), 0x00);
}

}  // namespace
}  // namespace simtest
