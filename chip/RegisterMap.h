// The LED driver's registers as the tool uses them: their addresses, the
// fields inside them and the small codecs that turn a page's choices into the
// bytes written (and the bytes read back into something a person can read).
// Pure C++: the window's pages, the register panel and corvelctl share it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace chip {

// ---- addresses ---------------------------------------------------------------

inline constexpr std::uint8_t kRegPort0Input = 0x00;
inline constexpr std::uint8_t kRegPort1Input = 0x01;
inline constexpr std::uint8_t kRegOutputLevels = 0x02;     // 0x02, 0x03 written together
inline constexpr std::uint8_t kRegDirection = 0x04;        // 0x04, 0x05 written together
inline constexpr std::uint8_t kRegInterruptDisable = 0x06; // 0x06, 0x07 written together
inline constexpr std::uint8_t kRegGlobalControl = 0x11;
inline constexpr std::uint8_t kRegMode = 0x12;             // 0x12, 0x13 written together
inline constexpr std::uint8_t kRegEffectControl = 0x14;
inline constexpr std::uint8_t kRegRampTimes = 0x15;
inline constexpr std::uint8_t kRegKeepTimes = 0x16;
inline constexpr std::uint8_t kRegBrightness = 0x20;       // one byte per LED, 0x20 .. 0x2F
inline constexpr std::uint8_t kRegSoftwareReset = 0x7F;

inline constexpr int kMaxChipLeds = 16;  // registers 0x20 .. 0x2F
inline constexpr int kMaxPins = 16;      // two ports of eight

// ---- values the pages write ----------------------------------------------------

inline constexpr std::array<std::uint8_t, 2> kModeLed = {0x00, 0x00};
inline constexpr std::array<std::uint8_t, 2> kModeGpio = {0xFF, 0xFF};
inline constexpr std::array<std::uint8_t, 2> kDirectionInput = {0xFF, 0xFF};
inline constexpr std::array<std::uint8_t, 2> kDirectionOutput = {0x00, 0x00};
inline constexpr std::uint8_t kEffectStop = 0x00;   // before every brightness block
inline constexpr std::uint8_t kEffectStart = 0xFF;  // first write of the blink and fade chains
inline constexpr std::uint8_t kSoftwareResetValue = 0x00;

// Register 0x11.
inline constexpr std::uint8_t kCurrentRangeMask = 0x03;    // bits 1..0
inline constexpr std::uint8_t kDriverPushPull = 0x10;      // bit 4: 1 push-pull, 0 open drain
inline constexpr std::uint8_t kBlinkEnableBits = 0x80;     // set by the blink chain
inline constexpr std::uint8_t kFadeEnableBits = 0x7F;      // set by the fade chain

// ---- the map, for pages that list registers --------------------------------

enum class Access { kRead, kWrite, kReadWrite };

struct RegisterInfo {
  std::uint8_t address;
  const char* name;
  Access access;
};

// Every register the tool touches, one entry per address, in address order.
// The brightness block is listed LED by LED.
std::span<const RegisterInfo> RegisterTable();
const RegisterInfo* FindRegister(std::uint8_t address);
const char* AccessText(Access access);  // "read", "write", "read/write"

// ---- time codes (registers 0x15 and 0x16) ----------------------------------------

// The entries of every time list; the index is the 3-bit code.
inline constexpr std::array<const char*, 6> kTimeTexts = {"0ms", "315ms", "630ms", "1260ms", "2520ms", "5040ms"};
inline constexpr std::array<int, 6> kTimeMilliseconds = {0, 315, 630, 1260, 2520, 5040};
// The code of a time text such as "315ms" (also "315"), or nothing.
std::optional<std::uint8_t> TimeCodeFromText(const std::string& text);
// Bits 2..0 the "on" code, bits 5..3 the "off" code, bits 7..6 zero.
std::uint8_t TimeByte(std::uint8_t onCode, std::uint8_t offCode);
// The two codes of a time byte (on, off). Codes 6 and 7 have no time.
std::pair<std::uint8_t, std::uint8_t> DecodeTimeByte(std::uint8_t value);
// Milliseconds of a code, or nothing for 6 and 7.
std::optional<int> TimeCodeMilliseconds(std::uint8_t code);

// ---- global control (register 0x11) ------------------------------------------------

// "Global Max Current" in mA (0..40) to the range code of bits 1..0:
// ((40 - v) / 10) & 3, so 40..31 -> 0, 30..21 -> 1, 20..11 -> 2, 10..1 -> 3.
std::uint8_t CurrentRangeCode(int milliamps);
// The highest current of a range code: 0 -> 40, 1 -> 30, 2 -> 20, 3 -> 10.
int CurrentRangeMilliamps(std::uint8_t code);
// Register 0x11 with the driver type bit changed and every other bit kept.
std::uint8_t WithDriverType(std::uint8_t value, bool pushPull);

// ---- per-pin bit mappings ----------------------------------------------------------

// Interrupt disable (0x06 for port 0, 0x07 for port 1). A drawing pin is one
// physical pin, so on boards 0, 1, 3 and 5 pin i goes to the bit of the port
// pin the relationship table names (as for the output levels: pins below 4,
// or 8, are P1_0.., the rest P0_0..); boards without a wiring (128) put pin
// i < 8 on bit i of 0x06 and pin i >= 8 on bit i - 8 of 0x07. Only pins below
// `pinCount` count.
std::array<std::uint8_t, 2> InterruptDisableBytes(std::span<const std::uint8_t> disabled, int pinCount,
                                                  std::uint8_t boardId);

// Output levels (0x02, 0x03). Boards 1 and 3 put pins below 4 on bits of
// 0x03 and the rest from bit 0 of 0x02; boards 0 and 5 do the same with 8.
// Other boards (128) have no mapping: both bytes stay 0.
std::array<std::uint8_t, 2> OutputLevelBytes(std::span<const std::uint8_t> high, int pinCount, std::uint8_t boardId);
// Whether a board id has an output-level mapping at all.
bool HasOutputLevelMapping(std::uint8_t boardId);
// Where an output pin's level goes: byte 0 (register 0x02) or 1 (0x03), and
// the bit in it. Nothing for a board without a mapping.
struct PinBit {
  int byte;
  int bit;
};
std::optional<PinBit> OutputLevelBit(int pin, std::uint8_t boardId);
// Where a pin's interrupt-disable bit goes: byte 0 (0x06, port 0) or 1 (0x07).
std::optional<PinBit> InterruptDisableBit(int pin, std::uint8_t boardId);

// The other way round, for commands that change some pins and keep the rest:
// which of the first `pinCount` pins the bytes of 0x06/0x07 disable, and which
// the bytes of 0x02/0x03 set high on a board (none without a mapping).
std::array<std::uint8_t, kMaxPins> InterruptDisabledPins(std::array<std::uint8_t, 2> bytes, int pinCount,
                                                         std::uint8_t boardId);
std::array<std::uint8_t, kMaxPins> OutputLevelPins(std::array<std::uint8_t, 2> bytes, int pinCount,
                                                    std::uint8_t boardId);

// What the GPIO input page shows for an input port (0 or 1): "P0D1: 0x" and
// the value in lower-case hex without leading zeros, e.g. "P0D1: 0xa5".
std::string PortInputText(int port, std::uint8_t value);

// ---- brightness ------------------------------------------------------------------

// A brightness value as the dial shows its percentage: v * 100 / 255, truncated.
int BrightnessPercent(std::uint8_t value);

// ---- a readable line about one register value ------------------------------------

// What a value of a register means, e.g. "ramp on 315 ms, ramp off 1260 ms"
// for 0x15 = 0x19; empty where there is nothing to decode.
std::string DescribeValue(std::uint8_t address, std::uint8_t value);

}  // namespace chip
