// Checksums of the framed link: CRC-16/ARC (polynomial 0x8005 reflected, start
// 0, no final XOR), reached through the algorithm selector the protocol object
// uses. The selector knows more algorithm numbers than the board speaks; for
// those it says so and yields 0.
#pragma once

#include <cstdint>
#include <span>

enum ChecksumAlgorithm : std::uint32_t {
  kChecksumCrc8 = 0,
  kChecksumCrc16 = 1,
  kChecksumCrc32 = 2,
  kChecksumParity = 3,
  kChecksumSum = 4,
  kChecksumNone = 5,
};

class CCRC16 {
 public:
  // CRC of `length` bytes continued from `start`; length 0 returns start.
  static std::uint16_t Update(std::uint16_t start, const std::uint8_t* data, std::uint32_t length);
  static std::uint16_t Update(std::uint16_t start, std::span<const std::uint8_t> data) {
    return Update(start, data.data(), static_cast<std::uint32_t>(data.size()));
  }
  static const CCRC16* Instance();  // null until CRC-16 was first selected
  static int InstanceCount();       // how many instances were ever made (0 or 1)
};

class CALGORITHM {
 public:
  // Stores the process-wide selection; for algorithms the board does not speak
  // it shows an error box.
  void SelectAlgorithm(std::uint32_t number);
  std::uint16_t Calculate(const std::uint8_t* data, std::uint32_t length) const;

  static std::uint32_t Selected();
};
