#include "sim/SimPins.h"

namespace sim {
namespace {

// The chip's registers, as the pins see them.
constexpr std::uint8_t kRegOutputPort0 = 0x02;
constexpr std::uint8_t kRegDirectionPort0 = 0x04;
constexpr std::uint8_t kRegInterruptDisablePort0 = 0x06;
constexpr std::uint8_t kRegGlobalControl = 0x11;
constexpr std::uint8_t kRegModePort0 = 0x12;
constexpr std::uint8_t kPushPullBit = 0x10;

PinMask PortPair(std::span<const std::uint8_t, 256> registers, std::uint8_t port0) {
  return static_cast<PinMask>(registers[port0] | registers[port0 + 1u] << 8);
}

}  // namespace

PinRegisters PinRegisters::FromRegisters(std::span<const std::uint8_t, 256> registers) {
  PinRegisters r;
  r.gpio = PortPair(registers, kRegModePort0);
  r.input = PortPair(registers, kRegDirectionPort0);
  r.outputHigh = PortPair(registers, kRegOutputPort0);
  r.irqDisabled = PortPair(registers, kRegInterruptDisablePort0);
  r.pushPull = (registers[kRegGlobalControl] & kPushPullBit) != 0;
  return r;
}

PinMask SimPins::Levels(const PinRegisters& r) const {
  const PinMask outputs = r.Outputs();
  // An open-drain output only ever pulls low; high, it leaves the pin to
  // whatever is outside.
  const PinMask driving = r.pushPull ? r.outputHigh : static_cast<PinMask>(r.outputHigh & driven_);
  return static_cast<PinMask>((driven_ & ~outputs) | (driving & outputs));
}

std::uint8_t SimPins::PortLevels(int port, const PinRegisters& r) const {
  return static_cast<std::uint8_t>(Levels(r) >> (port == 0 ? 0 : 8));
}

bool SimPins::Drive(PinMask levels, const PinRegisters& r) {
  // Watched pins are inputs: their level is what is outside, so a change
  // outside is a change of level. Reconfiguring the chip is no input edge
  // and raises nothing.
  const PinMask changed = static_cast<PinMask>((driven_ ^ levels) & r.Watched());
  driven_ = levels;
  return changed != 0;
}

void SimPins::SetPort(int port, std::uint8_t levels) {
  driven_ = port == 0 ? static_cast<PinMask>((driven_ & 0xFF00) | levels)
                      : static_cast<PinMask>((driven_ & 0x00FF) | levels << 8);
}

std::string PinName(int pin) {
  if (pin < 0 || pin >= kPinCount) return "?";
  return "P" + std::to_string(pin / 8) + "_" + std::to_string(pin % 8);
}

std::optional<int> PinFromName(const std::string& name) {
  if (name.size() != 4 || (name[0] != 'P' && name[0] != 'p') || name[2] != '_') return std::nullopt;
  if (name[1] < '0' || name[1] > '1' || name[3] < '0' || name[3] > '7') return std::nullopt;
  return (name[1] - '0') * 8 + (name[3] - '0');
}

}  // namespace sim
