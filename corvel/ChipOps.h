// The chip-level operations on an identified board, each the register
// writes (and reads) the window's pages make for it, awaited one after the
// other: corvelctl's commands and the Board class both run these. Each
// throws a corvel::Error (see Errors.h) when the board does not go along;
// the checks that need only the board's kind (Check*) throw before anything
// is sent.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "chip/EffectChain.h"
#include "chip/RegisterMap.h"
#include "link/BoardIds.h"
#include "setup/Setup.h"
#include "setup/SetupWrites.h"

class Session;

namespace corvel {

// Pins as numbered on the board, and whether each gets the first word
// (high, enable) or the second.
using PinSettings = std::vector<std::pair<int, bool>>;

// ---- checks that need the board's kind, before anything is sent ----
void CheckLeds(const std::vector<int>& leds, const ChipBoardEntry& board);
void CheckPins(const PinSettings& settings, const ChipBoardEntry& board);
// The board wires its pins' output levels (the QV6034 does not): ChipError.
void CheckOutputMapping(const ChipBoardEntry& board);
// A setup made for another chip board would set registers that mean
// something else there: ChipError naming both, nothing written.
void CheckSetupBoard(const setup::Setup& s, const std::string& file, const ChipBoardEntry& board);

// ---- registers ----
std::vector<std::uint8_t> ReadRegisters(Session& session, std::uint8_t reg, std::uint8_t count);
void WriteRegisters(Session& session, std::uint8_t reg, std::span<const std::uint8_t> data);
// Reads one register, writes back `(value & ~mask) | (bits & mask)`; the
// value before and the one written.
std::pair<std::uint8_t, std::uint8_t> ModifyRegister(Session& session, std::uint8_t reg, std::uint8_t mask,
                                                     std::uint8_t bits);

// ---- LEDs, current, mode ----
// Stops a running effect (0x00 to 0x14), then writes the whole brightness
// block from 0x20: the LEDs named get `brightness`, the others what the chip
// holds (read first); no LEDs named: every LED of the board.
void SetLeds(Session& session, const ChipBoardEntry& board, std::uint8_t brightness, const std::vector<int>& leds);
// Several LEDs at once from `first` on, each its own value (the same stop
// and block write; the LEDs outside keep what the chip holds).
void SetLedValues(Session& session, const ChipBoardEntry& board, int first, std::span<const std::uint8_t> values);
// 1..40 mA: the range code written to 0x11, whole.
std::uint8_t SetCurrent(Session& session, int milliamps);
// LED mode: 0x00 0x00 to 0x12-0x13, then 0x00 to 0x14; GPIO: 0xFF 0xFF.
void SetMode(Session& session, bool led);
void SoftwareReset(Session& session);

// ---- GPIO ----
std::array<std::uint8_t, 2> ReadInputPorts(Session& session);
struct PinWrite {
  std::array<std::uint8_t, chip::kMaxPins> pins{};  // the pins set (high, or disabled)
  std::array<std::uint8_t, 2> bytes{};             // what went to the register pair
};
PinWrite SetOutputLevels(Session& session, const ChipBoardEntry& board, const PinSettings& settings);
// `settings`: true enables the pin's interrupt.
PinWrite SetInterrupts(Session& session, const ChipBoardEntry& board, const PinSettings& settings);
// Bit 4 of 0x11, the other bits kept: the value before and after.
std::pair<std::uint8_t, std::uint8_t> SetDriver(Session& session, bool pushPull);
void SetDirection(Session& session, bool input);
void WaitInterrupt(Session& session, int timeoutMs);

// ---- effects ----
struct EffectRequest {
  chip::Effect effect = chip::Effect::kBlink;
  std::uint8_t rampOn = 0, rampOff = 0, keepOn = 0, keepOff = 0;  // time codes
  bool reset = false;  // software reset first (blink starts a second time only after one)
};
// A time as typed ("315ms", "630"): its code; UsageError naming `what`.
std::uint8_t EffectTimeCode(const std::string& text, const std::string& what);
// The times, then the window's chain of register commands, each once the
// board confirmed the one before; blink then uploads its effect data.
void RunEffect(Session& session, const EffectRequest& request, int ledCount);

// ---- setup files ----
// Loads a setup file; ChipError with the field named, nothing written.
setup::Setup LoadSetup(const std::string& path);
// The setup's chip address first (when another), then each write; the
// first that fails stops the rest and says which step it was.
void ApplySetup(Session& session, const setup::Setup& s, const std::vector<setup::RegisterWrite>& writes);

}  // namespace corvel
