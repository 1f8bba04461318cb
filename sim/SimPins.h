// The simulated chip's sixteen GPIO pins as the world outside sees them: what
// something outside drives onto each pin, and the level each pin then has
// given the chip's mode, direction, driver and output registers. The simulated
// board keeps one of these beside its register file; the input ports (0x00,
// 0x01) read the levels, and a change of what is driven onto a GPIO input
// whose interrupt is enabled is what makes the board report an interrupt.
//
// The model, pin by pin:
//   - LED mode (0x12/0x13 bit clear): the chip sinks LED current and does not
//     drive a logic level; the pin reads what is outside.
//   - GPIO input (0x04/0x05 bit set): reads what is outside.
//   - GPIO output, push-pull (0x11 bit 4 set): reads its own output bit
//     (0x02/0x03), whatever is outside.
//   - GPIO output, open drain (0x11 bit 4 clear): a low output pulls the pin
//     low; a high output lets go of it, so it reads what is outside (high
//     unless something outside pulls it low).
// Nothing outside drives a pin at first: pull-ups hold every pin high. What is
// outside is not the chip's, so neither its reset nor a re-plug changes it.
//
// Pins are numbered as the chip's ports are: pin 8 * p + n is Pp_n, bit n of
// port p's registers (0x00, 0x02, 0x04, 0x06, 0x12 for port 0; the next
// register for port 1). As a 16-bit mask, port 0 is the low byte.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sim {

using PinMask = std::uint16_t;
inline constexpr int kPinCount = 16;
inline constexpr PinMask kAllPins = 0xFFFF;

// The chip registers the pins depend on, as pin masks.
struct PinRegisters {
  PinMask gpio = 0;         // 0x12/0x13: set = GPIO, clear = LED current sink
  PinMask input = 0;        // 0x04/0x05: set = input, clear = output
  PinMask outputHigh = 0;   // 0x02/0x03
  PinMask irqDisabled = 0;  // 0x06/0x07: set = interrupt disabled
  bool pushPull = false;    // 0x11 bit 4

  static PinRegisters FromRegisters(std::span<const std::uint8_t, 256> registers);
  // The pins that report a change: GPIO inputs whose interrupt is enabled.
  PinMask Watched() const { return static_cast<PinMask>(gpio & input & ~irqDisabled); }
  // The pins the chip drives as outputs.
  PinMask Outputs() const { return static_cast<PinMask>(gpio & ~input); }
};

// What a person sees of the pins at one moment.
struct PinSnapshot {
  PinMask driven = kAllPins;  // what is outside
  PinMask levels = kAllPins;  // what the pins are at (what the input ports read)
  PinRegisters registers;
};

class SimPins {
 public:
  PinMask Driven() const { return driven_; }
  PinMask Levels(const PinRegisters& r) const;
  // The byte input port `port` (0 or 1) reads.
  std::uint8_t PortLevels(int port, const PinRegisters& r) const;

  // Sets what is outside. True when a pin the chip watches for interrupts
  // changed level: the chip then raises its interrupt line.
  bool Drive(PinMask levels, const PinRegisters& r);
  // Sets what is outside one port, without any interrupt (a test's shortcut).
  void SetPort(int port, std::uint8_t levels);

 private:
  PinMask driven_ = kAllPins;
};

// "P0_3" for pin 3, "P1_0" for pin 8.
std::string PinName(int pin);
// The pin of a name such as "P1_0" (also lower case "p1_0"), or nothing.
std::optional<int> PinFromName(const std::string& name);

}  // namespace sim
