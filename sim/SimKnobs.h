// The simulated board's knobs as a person sets them from a command line
// (`--sim-latency MS`, `--sim-faults drop=P,corrupt=P,nak=P`,
// `--sim-chip-address ADDR`), and the timing
// a real board has, which is what a person gets unless they say otherwise.
// Tests build their SimFaults directly and start from no delays at all.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "sim/SimBoard.h"

namespace sim {

// USB full speed polls the board's interrupt endpoints every 1 ms: each
// report waits for the next poll, in both directions.
inline constexpr std::chrono::microseconds kRealisticReportLatency{1000};
// The bridge's flash erases in 128 KiB sectors of about 1 s each; the
// largest image fills 15 of them.
inline constexpr std::chrono::milliseconds kRealisticEraseTime{15000};

// No faults, the real link's latency and the real erase time.
SimFaults RealisticTiming();

// Applies "drop=P,corrupt=P,nak=P" (any of them, in any order; P is a
// percentage of frames from 0 to 100, decimals allowed) to `faults`: drop and
// corrupt act in both directions, nak on the host's frames (the board's NAKs).
// False, with a sentence for the user in `error`, when the text is not that.
bool ParseFaultSpec(std::string_view spec, SimFaults& faults, std::string& error);
// A per-report latency in milliseconds (0 to 1000, decimals allowed).
bool ParseLatency(std::string_view text, SimFaults& faults, std::string& error);
// The simulated chip's own I2C address: one of those its address pins can
// set (0x58 to 0x5B), in decimal or 0x hex.
bool ParseChipAddress(std::string_view text, SimConfig& config, std::string& error);

}  // namespace sim
