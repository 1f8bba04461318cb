// A setup: what a person chose for a chip board (address and speed, pin
// mode and direction, maximum current and driver type, brightness per LED,
// effect times, GPIO interrupt and output settings), kept as a JSON file so
// that it can be saved, loaded again, repeated on the next board and handed
// on. Pure C++: the window and corvelctl read and write the same files.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chip/RegisterMap.h"

namespace setup {

// The format this program writes, and the newest it reads.
inline constexpr const char* kFormatName = "corvel-setup";
inline constexpr int kFormatVersion = 1;
// A setup file is a few hundred bytes; anything far larger is not one.
inline constexpr std::size_t kMaxFileBytes = 1 << 20;

enum class PinMode { kLed, kGpio };
enum class Direction { kInput, kOutput };
enum class Driver { kOpenDrain, kPushPull };

// Two time codes sharing one register (0x15: ramp, 0x16: keep).
struct TimePair {
  std::uint8_t on = 0;   // code 0..5
  std::uint8_t off = 0;  // code 0..5
  bool operator==(const TimePair&) const = default;
};

using PinSet = std::array<std::uint8_t, chip::kMaxPins>;  // 1: the pin is in the set

// Every field but the board and the bus is optional: what is not there is
// neither written nor claimed.
struct Setup {
  std::uint8_t boardId = 1;
  std::uint8_t i2cAddress = 0x5B;  // 0x58..0x5B
  std::uint8_t i2cSpeed = 4;       // bus speed code: 4 "400K", 10 "1M"
  std::optional<PinMode> mode;
  std::optional<Direction> direction;
  std::optional<int> maxCurrentMa;  // 0..40, as "Global Max Current"
  std::optional<Driver> driver;
  std::vector<std::uint8_t> brightness;  // empty, or one value per LED of the board
  std::optional<TimePair> rampTimes;
  std::optional<TimePair> keepTimes;
  std::optional<PinSet> interruptDisabled;
  std::optional<PinSet> outputHigh;

  bool operator==(const Setup&) const = default;
};

// The board's name ("QV6033") and LED/pin count, or null/0 for an id that
// names no chip board.
const char* BoardName(std::uint8_t boardId);
int BoardLedCount(std::uint8_t boardId);

// Parses and checks a setup file's text. Nothing on failure, with `error`
// naming the field and what is wrong with it ("max_current_ma: 55 is out of
// range 0..40"). Never throws.
std::optional<Setup> ParseSetup(std::string_view text, std::string& error);
// Reads the file at `path` (at most kMaxFileBytes) and parses it.
std::optional<Setup> LoadSetupFile(const std::string& path, std::string& error);

// The file's text for a setup (pretty-printed, fields in a fixed order).
std::string SetupToJson(const Setup& setup);
bool SaveSetupFile(const std::string& path, const Setup& setup, std::string& error);

// Builds a setup from what the chip holds as far as the program knows
// (`known(reg)`, e.g. the register journal): fields whose registers are not
// known are left out. `typedCurrent` is the current as the person typed it,
// kept when it lies in the range the chip holds (the chip only keeps the
// range). `brightnessFallback` fills LEDs whose value is not known (the
// values the window sends next), so that the brightness is saved whole.
struct ChipModelView {
  std::function<std::optional<std::uint8_t>(std::uint8_t reg)> known;
  std::optional<int> typedCurrent;
  std::vector<std::uint8_t> brightnessFallback;
};
Setup SetupFromChipModel(std::uint8_t boardId, std::uint8_t i2cAddress, std::uint8_t i2cSpeed,
                         const ChipModelView& chipModel);

}  // namespace setup
