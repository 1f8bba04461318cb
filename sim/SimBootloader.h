// The bridge's bootloader as the update worker sees it: raw 64-byte records
// in both directions (no framing) and the flash they program. This is the one
// place of the simulated board that names the record layout.
#pragma once

#include <chrono>
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

// It behaves like the flash it programs: an erase takes its time, a block
// goes only into memory the last erase cleared and nothing has been written
// to since, the check is made only over what the host says it wrote, and the
// end record starts the firmware only when that can work.
class SimBootloader {
 public:
  // The flash erases in sectors: a sector is the least an erase clears, and
  // the time an erase takes goes by its sectors.
  static constexpr std::size_t kSectorSize = 0x20000;
  static constexpr std::size_t kSectors = kFlashSize / kSectorSize;  // 15

  SimBootloader();  // flash blank (0xFF), nothing erased by this bootloader yet

  struct Outcome {
    std::optional<Report> reply;
    bool restartIntoApplication = false;  // after the reply has gone out
    // The bootloader is busy this long (erasing) before the reply goes out,
    // and takes no record meanwhile.
    std::chrono::milliseconds busyFor{0};
  };
  // Carries out one record from the host. `rng` picks the byte the
  // wrongBlockEcho fault spoils.
  Outcome Handle(const Report& request, const SimConfig& config, const SimFaults& faults,
                 std::mt19937& rng);

  std::vector<std::uint8_t> Flash(std::size_t offset, std::size_t length) const;
  std::uint32_t ErasedLength() const { return erasedLength_; }
  // The application area holds a firmware that can start: nothing has
  // erased it since the last image that was written whole and run. Flash
  // keeps this through a power cycle; a board without it comes up in its
  // bootloader.
  bool ApplicationIntact() const { return applicationIntact_; }
  // A restart into the bootloader: it remembers nothing of an earlier update
  // but the flash itself.
  void Restart();

 private:
  Outcome Erase(const Report& request, const SimFaults& faults);
  Report Connect(const SimConfig& config) const;
  Report WriteBlock(const Report& request, const SimFaults& faults, std::mt19937& rng);
  Report Check(const Report& request);
  Outcome End();
  // Every block of the announced image has been written since the erase.
  bool ImageComplete() const;

  enum class Checked { kNot, kPassed, kFailed };

  // What has been written, up to the highest byte written since the flash
  // was last blank; everything past it reads as erased. A board made and
  // thrown away (by a test, many times a second by a fuzzer) pays only
  // for what its run wrote.
  std::vector<std::uint8_t> flash_;
  std::uint32_t erasedLength_ = 0;    // N of the last erase
  std::size_t erasedRange_ = 0;       // whole sectors from 0 that it cleared
  bool erasedSinceStart_ = false;     // the firmware that was there is gone
  std::vector<bool> written_;         // per block, since the last erase (made by the first one)
  Checked checked_ = Checked::kNot;   // the last check of this image
  bool applicationIntact_ = true;     // kept through restarts and power cycles
};

}  // namespace sim
