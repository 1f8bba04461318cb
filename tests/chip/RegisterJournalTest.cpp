// What the program knows of each register: the newer of read and written
// wins, a reset dates everything before it, and nothing is noted past 0xFF.
#include <gtest/gtest.h>

#include <array>

#include "chip/RegisterJournal.h"

using chip::RegisterJournal;

TEST(RegisterJournalTest, NewerValueWinsAndAResetDatesWhatCameBefore) {
  RegisterJournal j;
  EXPECT_FALSE(j.Get(0x11).Latest());
  j.RecordRead(0x11, std::array<std::uint8_t, 1>{0x01});
  j.RecordWrite(0x11, std::array<std::uint8_t, 1>{0x81});
  EXPECT_EQ(j.Get(0x11).read, 0x01);
  EXPECT_EQ(j.Get(0x11).written, 0x81);
  EXPECT_EQ(j.Get(0x11).Latest(), 0x81);
  j.RecordRead(0x11, std::array<std::uint8_t, 1>{0x80});
  EXPECT_EQ(j.Get(0x11).Latest(), 0x80);

  const auto before = j.Version();
  EXPECT_EQ(j.ResetStamp(), 0u);
  // A block that covers the reset register resets the chip too.
  j.RecordWrite(0x7E, std::array<std::uint8_t, 2>{0x00, 0x00});
  EXPECT_GT(j.Version(), before);
  EXPECT_GT(j.ResetStamp(), j.Get(0x11).readStamp);
  EXPECT_EQ(j.ResetStamp(), j.Get(0x7F).writeStamp);
}

TEST(RegisterJournalTest, BytesPastTheLastRegisterAreNotNoted) {
  RegisterJournal j;
  j.RecordWrite(0xFE, std::array<std::uint8_t, 4>{1, 2, 3, 4});
  EXPECT_EQ(j.Get(0xFE).written, 1);
  EXPECT_EQ(j.Get(0xFF).written, 2);
  EXPECT_FALSE(j.Get(0x00).written);  // no wrap to the first register
  EXPECT_FALSE(j.Get(0x01).written);
}
