#include "chip/PinLevels.h"

#include "chip/RegisterJournal.h"

#include <algorithm>

namespace chip {

PinLevelArray InputPinLevels(std::optional<std::uint8_t> port0, std::optional<std::uint8_t> port1, int pinCount,
                             std::uint8_t boardId) {
  PinLevelArray levels{};
  const std::array<std::optional<std::uint8_t>, 2> ports = {port0, port1};
  for (int pin = 0; pin < std::clamp(pinCount, 0, kMaxPins); ++pin) {
    // The interrupt bits are laid out like the input ports: byte 0 is port 0.
    const auto where = InterruptDisableBit(pin, boardId);
    if (!where || where->byte < 0 || where->byte > 1) continue;
    const auto& port = ports[static_cast<std::size_t>(where->byte)];
    if (port) levels[static_cast<std::size_t>(pin)] = ((*port >> where->bit) & 1) != 0;
  }
  return levels;
}

std::uint16_t ChangedPins(const PinLevelArray& before, const PinLevelArray& after) {
  std::uint16_t changed = 0;
  for (std::size_t i = 0; i < before.size(); ++i)
    if (before[i] && after[i] && *before[i] != *after[i]) changed = static_cast<std::uint16_t>(changed | (1u << i));
  return changed;
}

std::optional<std::uint8_t> CurrentPortValue(const RegisterJournal& journal, std::uint8_t port) {
  const auto value = journal.Known(port);
  if (!value) return std::nullopt;
  const std::uint64_t read = journal.Get(port).readStamp;
  if (journal.InterruptStamp() > read) return std::nullopt;
  for (std::uint8_t reg : {kRegOutputLevels, static_cast<std::uint8_t>(kRegOutputLevels + 1), kRegDirection,
                           static_cast<std::uint8_t>(kRegDirection + 1), kRegGlobalControl, kRegMode,
                           static_cast<std::uint8_t>(kRegMode + 1)})
    if (journal.Get(reg).writeStamp > read) return std::nullopt;
  return value;
}

}  // namespace chip
