#include "firmware/BootRecordText.h"

#include <cstdio>
#include <string>

#include "firmware/BootRecord.h"

namespace {

std::string Hex32(const char* prefix, std::uint32_t v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s0x%06X", prefix, v);
  return buf;
}

}  // namespace

void DescribeBootRecord(std::span<const std::uint8_t> r, bool out, TrafficRow& row) {
  if (r.size() < boot::kRecordSize) {
    row.name = "short record";
    return;
  }
  row.opcode = r[boot::kOpcodeOffset];
  const bool done = r[boot::kResultOffset] == boot::kResultDone;
  const std::uint32_t number = boot::GetU32(r.data() + boot::kNumberOffset);
  switch (r[boot::kOpcodeOffset]) {
    case boot::kOpConnect:
      row.name = "connect";
      if (out) {
        row.meaning = "connect to the bootloader";
      } else {
        const auto* v = r.data() + boot::kVersionOffset;
        row.meaning = "bootloader version " + std::to_string(v[0]) + "." + std::to_string(v[1]) + "." +
                      std::to_string(v[2]) + "." + std::to_string(v[3]);
      }
      return;
    case boot::kOpErase:
      row.name = "erase";
      row.meaning = out ? "erase " + std::to_string(number) + " bytes" : done ? "erase done" : "erase refused";
      return;
    case boot::kOpBlock:
      row.name = "write block";
      row.meaning = Hex32("block at ", number) + ": " + std::to_string(boot::kBlockSize) + " bytes";
      return;
    case boot::kOpBlockEcho:
      row.name = "block echo";
      row.meaning = Hex32("echo of the block at ", number);
      return;
    case boot::kOpCheck:
      row.name = "check";
      if (out) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "check word 0x%08X", boot::GetU32(r.data() + boot::kCheckWordOffset));
        row.meaning = buf;
      } else {
        row.meaning = done ? "check passed" : "check failed";
      }
      return;
    case boot::kOpEnd:
      row.name = "end";
      // The answer carries no result: it only says the bootloader is leaving.
      row.meaning = out ? "run the new firmware" : "the firmware starts";
      return;
    default:
      row.name = "unknown record";
      return;
  }
}
