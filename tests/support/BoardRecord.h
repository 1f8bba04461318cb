// What a simulated board carried out, as the tests that drive a page (or the
// whole window) look at it.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "sim/SimBoard.h"

namespace boardrecord {

// The commands of one kind the board carried out since its record was cleared.
inline std::vector<sim::DeliveredCommand> Carried(sim::SimBoard& board, std::uint8_t cls, std::uint8_t cmd) {
  std::vector<sim::DeliveredCommand> out;
  for (auto& d : board.Delivered())
    if (d.cls == cls && d.cmd == cmd) out.push_back(d);
  return out;
}

// The register writes among them: (first register, data).
using RegisterWrite = std::pair<std::uint8_t, std::vector<std::uint8_t>>;
inline std::vector<RegisterWrite> RegisterWrites(sim::SimBoard& board) {
  std::vector<RegisterWrite> out;
  for (const auto& d : Carried(board, 16, 3))
    if (d.payload.size() >= 6)
      out.emplace_back(d.payload[2], std::vector<std::uint8_t>(d.payload.begin() + 6, d.payload.end()));
  return out;
}

// Whether a write from `reg` was carried out (of exactly `data`, if given).
inline bool WroteTo(sim::SimBoard& board, std::uint8_t reg, const std::vector<std::uint8_t>* data = nullptr) {
  for (const auto& w : RegisterWrites(board))
    if (w.first == reg && (!data || w.second == *data)) return true;
  return false;
}

}  // namespace boardrecord
