// What a control on screen says the chip holds: a register, the bits it
// speaks of and their value, or plainly nothing ("not known"). Pages list
// their claims on request only (a check that compares them with a chip),
// never while they paint or handle a message. Pure C++.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace chip {

struct ChipClaim {
  std::string what;  // the control, in words
  std::uint8_t reg = 0;
  std::uint8_t mask = 0xFF;            // the bits it speaks of
  std::optional<std::uint8_t> value;   // those bits (within mask); nothing: not known
};
using ChipClaims = std::vector<ChipClaim>;

}  // namespace chip
