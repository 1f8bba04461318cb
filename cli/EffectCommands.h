// corvelctl blink and corvelctl fade on|off: their arguments and what they
// print; the library runs the effect (the window's register chain).
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "corvel/ChipOps.h"
#include "nlohmann/json.hpp"

namespace cli {

inline constexpr const char* kBlinkHelp =
    "Usage: corvelctl blink --ramp-on T --ramp-off T --keep-on T --keep-off T [--reset]\n\n"
    "Starts the chip's blink effect. T is one of 315ms, 630ms, 1260ms, 2520ms, 5040ms\n"
    "(the unit may be left out). The ramp times go to register 0x15 and the keep times\n"
    "to 0x16; then, as the window's \"Blink Go\": 0xFF to 0x14, 0x03 0x0F to 0x04-0x05,\n"
    "register 0x11 read and written back with bit 7 set, each step once the board has\n"
    "confirmed the one before; last the effect data goes to the board (command (64, 1)).\n"
    "--reset resets the chip first (0x00 to 0x7F): the chip needs it before blink starts\n"
    "a second time. 'corvelctl led' stops the effect (it writes 0x00 to 0x14 first).\n";
inline constexpr const char* kFadeHelp =
    "Usage: corvelctl fade on|off --ramp-on T --ramp-off T\n\n"
    "Starts the chip's fade effect towards on or off. T is one of 315ms, 630ms, 1260ms,\n"
    "2520ms, 5040ms (the unit may be left out). The ramp times go to register 0x15; then,\n"
    "as the window's \"Fade On\"/\"Fade Off\": 0xFF to 0x14, 0x00 0x00 to 0x04-0x05,\n"
    "register 0x11 read and written back with bits 6..0 set, and 0x03 0x0F (on) or\n"
    "0x00 0x00 (off) to 0x02-0x03, each step once the board has confirmed the one before.\n";

using corvel::EffectRequest;

// args[0] is "blink" or "fade". The text of a usage error, or nothing.
std::optional<std::string> ParseEffectArgs(const std::vector<std::string>& args, EffectRequest& request);

// What a started effect prints: a line, or its JSON.
void PrintEffect(const EffectRequest& request, bool json, std::ostream& out);

}  // namespace cli
