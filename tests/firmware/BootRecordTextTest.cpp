// The bootloader's records as the traffic decoder names them.
#include <gtest/gtest.h>

#include "firmware/BootRecord.h"
#include "firmware/BootRecordText.h"

namespace {

boot::Record Record(std::uint8_t opcode, std::uint8_t result = 0, std::uint32_t number = 0) {
  boot::Record r{};
  r[boot::kOpcodeOffset] = opcode;
  r[boot::kResultOffset] = result;
  boot::PutU32(r.data() + boot::kNumberOffset, number);
  return r;
}

}  // namespace

TEST(BootRecordTextTest, EveryRecordAndAnswerIsNamed) {
  boot::Record version = Record(boot::kOpConnect);
  for (std::size_t i = 0; i < boot::kVersionParts; ++i) version[boot::kVersionOffset + i] = static_cast<std::uint8_t>(i + 1);
  boot::Record check = Record(boot::kOpCheck);
  boot::PutU32(check.data() + boot::kCheckWordOffset, 0x89ABCDEF);
  const struct {
    boot::Record record;
    bool out;
    const char* name;
    const char* meaning;
  } cases[] = {
      {Record(boot::kOpConnect), true, "connect", "connect to the bootloader"},
      {version, false, "connect", "bootloader version 1.2.3.4"},
      {Record(boot::kOpErase, 0, 262144), true, "erase", "erase 262144 bytes"},
      {Record(boot::kOpErase, boot::kResultDone), false, "erase", "erase done"},
      {Record(boot::kOpErase, 0), false, "erase", "erase refused"},
      {Record(boot::kOpBlock, 0, 0x400), true, "write block", "block at 0x000400: 32 bytes"},
      {Record(boot::kOpBlockEcho, 0, 0x400), false, "block echo", "echo of the block at 0x000400"},
      {check, true, "check", "check word 0x89ABCDEF"},
      {Record(boot::kOpCheck, boot::kResultDone), false, "check", "check passed"},
      {Record(boot::kOpCheck, 0), false, "check", "check failed"},
      {Record(boot::kOpEnd), true, "end", "run the new firmware"},
      {Record(boot::kOpEnd), false, "end", "the firmware starts"},
      {Record(0x42), false, "unknown record", ""},
  };
  for (const auto& c : cases) {
    TrafficRow row;
    DescribeBootRecord(c.record, c.out, row);
    EXPECT_EQ(row.name, c.name) << c.meaning;
    EXPECT_EQ(row.meaning, c.meaning);
    EXPECT_EQ(row.opcode, c.record[0]);
  }
}
