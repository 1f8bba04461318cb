// The bridge's bootloader as the update worker sees it: raw 64-byte records
// in both directions (no framing) and the flash they program. This is the one
// place of the simulated board that names the record layout.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "sim/SimBoard.h"

namespace sim {

// Checksum of a firmware image as carried in its trailer: each byte weighted
// by its 1-based position, summed modulo 2^32, the high half folded in twice,
// complemented.
std::uint32_t ImageChecksum(std::span<const std::uint8_t> data);

class SimBootloader {
 public:
  SimBootloader();  // flash blank (0xFF)

  struct Outcome {
    std::optional<Report> reply;
    bool restartIntoApplication = false;  // after the reply has gone out
  };
  // Carries out one record from the host. `rng` picks the byte the
  // wrongBlockEcho fault spoils.
  Outcome Handle(const Report& request, const SimConfig& config, const SimFaults& faults,
                 std::mt19937& rng);

  std::vector<std::uint8_t> Flash(std::size_t offset, std::size_t length) const;
  std::uint32_t ErasedLength() const { return erasedLength_; }

 private:
  Report Connect(const SimConfig& config) const;
  Report Erase(const Report& request, const SimFaults& faults);
  Report WriteBlock(const Report& request, const SimFaults& faults, std::mt19937& rng);
  Report Check(const Report& request) const;

  std::vector<std::uint8_t> flash_;
  std::uint32_t erasedLength_ = 0;
};

}  // namespace sim
