// The level of each pin of the board drawing, from the two input ports the
// chip reports (0x00 port 0, 0x01 port 1), by the board's pin wiring: the same
// wiring the interrupt and output settings go through. Pure C++.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "chip/RegisterMap.h"

namespace chip {

// Per drawing pin: true high, false low, nothing when the port it sits on was
// not read (or the pin is past `pinCount`).
using PinLevelArray = std::array<std::optional<bool>, kMaxPins>;

PinLevelArray InputPinLevels(std::optional<std::uint8_t> port0, std::optional<std::uint8_t> port1, int pinCount,
                             std::uint8_t boardId);

class RegisterJournal;
// What an input port (0x00 or 0x01) holds now as far as the program knows:
// the value last read, unless something that changes the pins' levels came
// after the read (a write to the output levels, the direction, the driver
// type or the pin mode, a reset, an interrupt). Nothing: not known now.
std::optional<std::uint8_t> CurrentPortValue(const RegisterJournal& journal, std::uint8_t port);

// Bit i set: drawing pin i is known in both and differs.
std::uint16_t ChangedPins(const PinLevelArray& before, const PinLevelArray& after);

}  // namespace chip
