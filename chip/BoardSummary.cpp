#include "chip/BoardSummary.h"

#include <cstdio>

#include "link/BoardIds.h"
#include "link/LinkHost.h"

namespace chip {

std::vector<std::string> BoardSummaryLines(const BoardFacts& facts) {
  std::vector<std::string> lines;
  const ChipBoardEntry* board = facts.boardId ? FindChipBoard(*facts.boardId) : nullptr;
  if (!facts.boardId) {
    lines.emplace_back("Board: none identified");
    return lines;
  }
  lines.push_back("Board: " + std::string(board ? board->name : "unknown") + " (id " + std::to_string(*facts.boardId) +
                  ")");
  char address[48];
  const char* speed = facts.i2cSpeed == kI2cSpeed1M ? "1M" : facts.i2cSpeed == kI2cSpeed400K ? "400K" : "?";
  std::snprintf(address, sizeof address, "Chip at 0x%02X, %s", facts.i2cAddress, speed);
  lines.emplace_back(address);
  if (!facts.firmware.empty()) lines.push_back("Firmware: " + facts.firmware);
  if (!facts.devicePath.empty()) lines.push_back("Device: " + facts.devicePath);
  if (!facts.serialNumber.empty()) lines.push_back("Serial: " + facts.serialNumber);
  return lines;
}

}  // namespace chip
