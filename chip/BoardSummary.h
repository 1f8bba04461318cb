// The lines that name the attached lamp board on the LED board page: board
// and chip, the chip's I2C address and bus speed, the bridge firmware, and
// where known the device path and serial number. Pure C++.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace chip {

struct BoardFacts {
  std::optional<std::uint8_t> boardId;  // nothing while no board is identified
  std::uint8_t i2cAddress = 0;
  std::uint8_t i2cSpeed = 0;  // the bus speed code: 4 for 400K, 10 for 1M
  std::string firmware;       // empty while not known
  std::string devicePath;     // empty while no board is open
  std::string serialNumber;   // empty when the board does not say
};

// "Board: QV6035 (id 5)", "Chip at 0x5B, 400K", "Firmware: V1.3.0",
// "Device: /dev/hidraw3", "Serial: 0001"; lines with nothing known are left
// out, except the first, which says no board is identified.
std::vector<std::string> BoardSummaryLines(const BoardFacts& facts);

}  // namespace chip
