#include "chip/RegisterMap.h"

#include <algorithm>
#include <cstdio>

namespace chip {
namespace {

constexpr RegisterInfo kRegisters[] = {
    {0x00, "port 0 input", Access::kRead},
    {0x01, "port 1 input", Access::kRead},
    {0x02, "output levels, port 0", Access::kWrite},
    {0x03, "output levels, port 1", Access::kWrite},
    {0x04, "port direction, port 0", Access::kWrite},
    {0x05, "port direction, port 1", Access::kWrite},
    {0x06, "interrupt disable, pins 0-7", Access::kWrite},
    {0x07, "interrupt disable, pins 8-15", Access::kWrite},
    {0x11, "global control", Access::kReadWrite},
    {0x12, "LED / GPIO mode, port 0", Access::kWrite},
    {0x13, "LED / GPIO mode, port 1", Access::kWrite},
    {0x14, "effect control", Access::kWrite},
    {0x15, "ramp times", Access::kWrite},
    {0x16, "keep times", Access::kWrite},
    {0x20, "LED 0 brightness", Access::kWrite},
    {0x21, "LED 1 brightness", Access::kWrite},
    {0x22, "LED 2 brightness", Access::kWrite},
    {0x23, "LED 3 brightness", Access::kWrite},
    {0x24, "LED 4 brightness", Access::kWrite},
    {0x25, "LED 5 brightness", Access::kWrite},
    {0x26, "LED 6 brightness", Access::kWrite},
    {0x27, "LED 7 brightness", Access::kWrite},
    {0x28, "LED 8 brightness", Access::kWrite},
    {0x29, "LED 9 brightness", Access::kWrite},
    {0x2A, "LED 10 brightness", Access::kWrite},
    {0x2B, "LED 11 brightness", Access::kWrite},
    {0x2C, "LED 12 brightness", Access::kWrite},
    {0x2D, "LED 13 brightness", Access::kWrite},
    {0x2E, "LED 14 brightness", Access::kWrite},
    {0x2F, "LED 15 brightness", Access::kWrite},
    {0x7F, "software reset", Access::kWrite},
};

std::string Format(const char* fmt, int a, int b) {
  char buf[96];
  std::snprintf(buf, sizeof buf, fmt, a, b);
  return buf;
}

std::string TimeText(std::uint8_t code) {
  const auto ms = TimeCodeMilliseconds(code);
  return ms ? std::to_string(*ms) + " ms" : "code " + std::to_string(code) + " (no time)";
}

std::string BitList(std::uint8_t value, int firstPin) {
  std::string out;
  for (int bit = 0; bit < 8; ++bit) {
    if (!(value & (1u << bit))) continue;
    if (!out.empty()) out += ' ';
    out += std::to_string(firstPin + bit);
  }
  return out.empty() ? "none" : out;
}

}  // namespace

std::span<const RegisterInfo> RegisterTable() { return kRegisters; }

const RegisterInfo* FindRegister(std::uint8_t address) {
  for (const auto& r : kRegisters)
    if (r.address == address) return &r;
  return nullptr;
}

const char* AccessText(Access access) {
  switch (access) {
    case Access::kRead: return "read";
    case Access::kWrite: return "write";
    case Access::kReadWrite: return "read/write";
  }
  return "";
}

std::optional<std::uint8_t> TimeCodeFromText(const std::string& text) {
  for (std::size_t i = 0; i < kTimeTexts.size(); ++i) {
    const std::string full = kTimeTexts[i];
    if (text == full || text == full.substr(0, full.size() - 2)) return static_cast<std::uint8_t>(i);
  }
  return std::nullopt;
}

std::uint8_t TimeByte(std::uint8_t onCode, std::uint8_t offCode) {
  return static_cast<std::uint8_t>(((offCode & 7u) << 3) | (onCode & 7u));
}

std::pair<std::uint8_t, std::uint8_t> DecodeTimeByte(std::uint8_t value) {
  return {static_cast<std::uint8_t>(value & 7u), static_cast<std::uint8_t>((value >> 3) & 7u)};
}

std::optional<int> TimeCodeMilliseconds(std::uint8_t code) {
  if (code >= kTimeMilliseconds.size()) return std::nullopt;
  return kTimeMilliseconds[code];
}

std::uint8_t CurrentRangeCode(int milliamps) {
  return static_cast<std::uint8_t>(((40 - milliamps) / 10) & kCurrentRangeMask);
}

int CurrentRangeMilliamps(std::uint8_t code) { return 40 - 10 * (code & kCurrentRangeMask); }

std::uint8_t WithDriverType(std::uint8_t value, bool pushPull) {
  return pushPull ? static_cast<std::uint8_t>(value | kDriverPushPull)
                  : static_cast<std::uint8_t>(value & ~kDriverPushPull);
}

std::optional<PinBit> InterruptDisableBit(int pin, std::uint8_t boardId) {
  if (pin < 0 || pin >= kMaxPins) return std::nullopt;
  // A drawing pin is one physical pin: where the board wires it (the
  // relationship table, as for the output levels), its interrupt bit is that
  // port's. A board without a wiring keeps pin i on bit i, port 0 first.
  if (HasOutputLevelMapping(boardId)) return OutputLevelBit(pin, boardId);
  return PinBit{pin / 8, pin % 8};
}

std::array<std::uint8_t, 2> InterruptDisableBytes(std::span<const std::uint8_t> disabled, int pinCount,
                                                  std::uint8_t boardId) {
  std::array<std::uint8_t, 2> out{};
  const int n = std::min<int>(pinCount, std::min<int>(static_cast<int>(disabled.size()), kMaxPins));
  for (int i = 0; i < n; ++i) {
    if (!disabled[static_cast<std::size_t>(i)]) continue;
    if (const auto where = InterruptDisableBit(i, boardId))
      out[static_cast<std::size_t>(where->byte)] |= static_cast<std::uint8_t>(1u << where->bit);
  }
  return out;
}

bool HasOutputLevelMapping(std::uint8_t boardId) { return boardId == 0 || boardId == 1 || boardId == 3 || boardId == 5; }

std::optional<PinBit> OutputLevelBit(int pin, std::uint8_t boardId) {
  if (!HasOutputLevelMapping(boardId) || pin < 0 || pin >= kMaxPins) return std::nullopt;
  const int limit = (boardId == 1 || boardId == 3) ? 4 : 8;
  // The mapping never reaches past bit 7 on the boards it covers; a pin that
  // would is left out rather than shifted off the byte.
  const PinBit where = pin < limit ? PinBit{1, pin} : PinBit{0, pin - limit};
  if (where.bit >= 8) return std::nullopt;
  return where;
}

std::array<std::uint8_t, 2> OutputLevelBytes(std::span<const std::uint8_t> high, int pinCount, std::uint8_t boardId) {
  std::array<std::uint8_t, 2> out{};  // {0x02, 0x03}
  const int n = std::min<int>(pinCount, std::min<int>(static_cast<int>(high.size()), kMaxPins));
  for (int i = 0; i < n; ++i) {
    if (!high[static_cast<std::size_t>(i)]) continue;
    if (const auto where = OutputLevelBit(i, boardId))
      out[static_cast<std::size_t>(where->byte)] |= static_cast<std::uint8_t>(1u << where->bit);
  }
  return out;
}

std::array<std::uint8_t, kMaxPins> OutputLevelPins(std::array<std::uint8_t, 2> bytes, int pinCount,
                                                    std::uint8_t boardId) {
  std::array<std::uint8_t, kMaxPins> high{};
  for (int i = 0; i < std::min(pinCount, kMaxPins); ++i)
    if (const auto where = OutputLevelBit(i, boardId))
      high[static_cast<std::size_t>(i)] = (bytes[static_cast<std::size_t>(where->byte)] >> where->bit) & 1u;
  return high;
}

std::array<std::uint8_t, kMaxPins> InterruptDisabledPins(std::array<std::uint8_t, 2> bytes, int pinCount,
                                                         std::uint8_t boardId) {
  std::array<std::uint8_t, kMaxPins> disabled{};
  for (int i = 0; i < std::min(pinCount, kMaxPins); ++i)
    if (const auto where = InterruptDisableBit(i, boardId))
      disabled[static_cast<std::size_t>(i)] = (bytes[static_cast<std::size_t>(where->byte)] >> where->bit) & 1u;
  return disabled;
}

std::string PortInputText(int port, std::uint8_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "P%dD1: 0x%x", port == 0 ? 0 : 1, value);
  return buf;
}

int BrightnessPercent(std::uint8_t value) { return value * 100 / 255; }

std::string DescribeValue(std::uint8_t address, std::uint8_t value) {
  switch (address) {
    case kRegPort0Input:
    case kRegPort1Input: return "high bits: " + BitList(value, 0);
    case kRegOutputLevels:
    case kRegOutputLevels + 1: return "high bits: " + BitList(value, 0);
    case kRegDirection:
    case kRegDirection + 1:
      return value == 0xFF ? "all inputs" : value == 0x00 ? "all outputs" : "input bits: " + BitList(value, 0);
    case kRegInterruptDisable: return "disabled pins: " + BitList(value, 0);
    case kRegInterruptDisable + 1: return "disabled pins: " + BitList(value, 8);
    case kRegGlobalControl: {
      const std::uint8_t code = value & kCurrentRangeMask;
      std::string s = Format("current range %d (up to %d mA), ", code, CurrentRangeMilliamps(code));
      s += (value & kDriverPushPull) ? "push-pull" : "open drain";
      if (value & kBlinkEnableBits) s += ", blink bit set";
      if ((value & kFadeEnableBits) == kFadeEnableBits) s += ", fade bits set";
      return s;
    }
    case kRegMode:
    case kRegMode + 1: return value == 0xFF ? "GPIO" : value == 0x00 ? "LED" : "GPIO bits: " + BitList(value, 0);
    case kRegEffectControl: return value == kEffectStart ? "effect running" : value == kEffectStop ? "stopped" : "";
    case kRegRampTimes:
    case kRegKeepTimes: {
      const auto [on, off] = DecodeTimeByte(value);
      const char* what = address == kRegRampTimes ? "ramp" : "keep";
      return std::string(what) + " on " + TimeText(on) + ", " + what + " off " + TimeText(off);
    }
    default:
      if (address >= kRegBrightness && address < kRegBrightness + kMaxChipLeds)
        return Format("%d (%d %%)", value, BrightnessPercent(value));
      return "";
  }
}

}  // namespace chip
