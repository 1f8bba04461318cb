// What the board's application firmware answers, and what it does to the
// chip's registers.
#include "sim/SimHostSide.h"

namespace simtest {
namespace {

class SimCommandTest : public BoardFixture {
 protected:
  explicit SimCommandTest(std::uint8_t chipAddress = 0x5B)
      : BoardFixture(
            sim::SimConfig{.boardId = 128, .versionStrings = {"BR", "", "V9.9"}, .chipAddress = chipAddress}) {}

  Reply Write(std::uint8_t reg, const Bytes& data, std::uint8_t chip = 0x5B) {
    return Exchange(16, 3, Concat(I2cRecord(chip, reg, static_cast<std::uint8_t>(data.size())), data));
  }
  Reply Read(std::uint8_t reg, std::uint8_t count, std::uint8_t chip = 0x5B) {
    return Exchange(16, 1, I2cRecord(chip, reg, count));
  }
};

TEST_F(SimCommandTest, VersionQueryAnswersThreeTerminatedStrings) {
  const Reply r = Exchange(1, 32, {0});
  EXPECT_EQ(r.address, kReplyAddress);
  EXPECT_EQ(r.cls, 1);
  EXPECT_EQ(r.cmd, 33);
  EXPECT_EQ(r.payload, (Bytes{'B', 'R', 0, 0, 'V', '9', '.', '9', 0}));
}

TEST_F(SimCommandTest, BoardDataIsAnsweredWithTheBoardId) {
  struct Case {
    const char* name;
    Bytes payload;
    std::uint8_t cmd;
    Bytes reply;
  };
  const Case cases[] = {
      {"board query", {5, 0, 0, 0}, 2, {5, 0, 128, 0}},
      {"effect data", {5, 2, 3, 0, 9, 9, 9}, 2, {5, 2, 128, 0}},
      {"header longer than its data", {5, 2, 5, 0, 9, 9}, 3, {5, 2, 128, 0}},
      {"no whole header", {5}, 3, {5, 0, 128, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Reply r = Exchange(64, 1, c.payload);
    EXPECT_EQ(r.cls, 64);
    EXPECT_EQ(r.cmd, c.cmd);
    EXPECT_EQ(r.payload, c.reply);
  }
}

TEST_F(SimCommandTest, ChipAddressIsTakenOnlyInItsRange) {
  struct Case {
    Bytes payload;
    bool refuse;
    std::uint8_t cmd;
    std::uint8_t addressAfter;
  };
  const Case cases[] = {
      {{0x59}, false, 11, 0x59}, {{0x5C}, false, 12, 0x59}, {{0x57}, false, 12, 0x59},
      {{0x58}, false, 11, 0x58}, {{0x5A}, true, 12, 0x58},  {{}, false, 12, 0x58},
  };
  EXPECT_EQ(board_.ChipAddress(), 0x5B);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.payload));
    board_.SetFaults({.refuseAddress = c.refuse});
    EXPECT_EQ(Exchange(64, 10, c.payload).cmd, c.cmd);
    EXPECT_EQ(board_.ChipAddress(), c.addressAfter);
  }
  // The bridge now goes to 0x58 only, where no chip answers: the chip at
  // 0x5B is not reached either way.
  EXPECT_EQ(Read(0x20, 1, 0x5B).cmd, 48);
  EXPECT_EQ(Read(0x20, 1, 0x58).cmd, 48);
}

class SimChipAt59Test : public SimCommandTest {
 protected:
  SimChipAt59Test() : SimCommandTest(0x59) {}
};

TEST_F(SimChipAt59Test, TheChipAnswersOnlyAtItsOwnAddress) {
  struct Case {
    std::uint8_t told;       // by (64, 10)
    std::uint8_t addressed;  // in the transfer's record
    bool answers;
  };
  for (const Case& c : {Case{0x5B, 0x5B, false}, Case{0x59, 0x5B, false}, Case{0x5A, 0x5A, false},
                        Case{0x59, 0x59, true}}) {
    SCOPED_TRACE(testing::PrintToString(c.addressed));
    ASSERT_EQ(Exchange(64, 10, {c.told}).cmd, 11);
    const Reply written = Write(0x20, {c.addressed}, c.addressed);
    const Reply read = Read(0x20, 1, c.addressed);
    EXPECT_EQ(written.cmd, c.answers ? 4 : 48);
    EXPECT_EQ(read.cmd, c.answers ? 2 : 48);
    if (!c.answers) EXPECT_EQ(read.payload, I2cRecord(c.addressed, 0x20, 1)) << "the failure carries the record";
    EXPECT_EQ(board_.Register(0x20), c.answers ? c.addressed : 0);
  }
}

TEST_F(SimCommandTest, RegisterWriteThenReadBack) {
  const Bytes data{0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
  const Reply written = Write(0x20, data);
  EXPECT_EQ(written.cmd, 4);
  EXPECT_EQ(written.payload, Concat(I2cRecord(0x5B, 0x20, 6), data));
  for (std::size_t i = 0; i < data.size(); ++i) EXPECT_EQ(board_.Register(0x20 + i), data[i]);

  Bytes request = I2cRecord(0x5B, 0x20, 6);
  request[4] = 0x0A;  // 1M: the record comes back as it was sent
  const Reply read = Exchange(16, 1, request);
  EXPECT_EQ(read.cmd, 2);
  EXPECT_EQ(read.payload, Concat(request, data));
  EXPECT_EQ(read.payload.size(), read.payload[3] + 6u);  // what the host checks

  // Input ports show the pins: the test sets them, the host cannot.
  board_.SetRegister(0x00, 0xA5);
  EXPECT_EQ(Write(0x00, {0x00, 0x00}).cmd, 4);
  EXPECT_EQ(Read(0x00, 2).payload, Concat(I2cRecord(0x5B, 0x00, 2), {0xA5, 0xFF}));
}

TEST_F(SimCommandTest, AccessPastTheLastRegisterDoesNotWrap) {
  // Wrapping would land the last two bytes in 0x02 and 0x03.
  const Bytes data{1, 2, 3, 4, 5, 6};
  EXPECT_EQ(Write(0xFE, data).payload, Concat(I2cRecord(0x5B, 0xFE, 6), data));
  EXPECT_EQ(board_.Register(0xFE), 1);
  EXPECT_EQ(board_.Register(0xFF), 2);
  EXPECT_EQ(board_.Register(0x02), 0);
  EXPECT_EQ(board_.Register(0x03), 0);
  const Reply read = Read(0xFF, 3);
  EXPECT_EQ(read.payload, Concat(I2cRecord(0x5B, 0xFF, 3), {2, 0xFF, 0xFF}));
}

TEST_F(SimCommandTest, FailedRegisterAccessIsAnsweredWith48AndTheRecord) {
  struct Case {
    const char* name;
    std::uint8_t cmd;
    Bytes payload;
    bool failRead;
    Bytes reply;
  };
  const Case cases[] = {
      {"read, other chip", 1, I2cRecord(0x5A, 0x20, 1), false, I2cRecord(0x5A, 0x20, 1)},
      {"read, failing", 1, I2cRecord(0x5B, 0x20, 1), true, I2cRecord(0x5B, 0x20, 1)},
      {"read, short record", 1, {1, 0x5B, 0x20, 1}, false, {1, 0x5B, 0x20, 1}},
      {"write, other chip", 3, Concat(I2cRecord(0x58, 0x20, 1), {7}), false, I2cRecord(0x58, 0x20, 1)},
      {"write, data missing", 3, Concat(I2cRecord(0x5B, 0x20, 3), {7, 7}), false,
       I2cRecord(0x5B, 0x20, 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    board_.SetFaults({.failRegisterRead = c.failRead});
    const Reply r = Exchange(16, c.cmd, c.payload);
    EXPECT_EQ(r.cmd, 48);
    EXPECT_EQ(r.payload, c.reply);
  }
  EXPECT_EQ(board_.Register(0x20), 0);
}

TEST_F(SimCommandTest, ResetRegisterRestoresResetValuesButNotThePins) {
  board_.SetRegister(0x01, 0x3C);
  Write(0x11, {0x13});
  Write(0x20, {0x80, 0x81});
  Write(0x7F, {0x01});  // only 0x00 resets
  EXPECT_EQ(board_.Register(0x11), 0x13);
  Write(0x7F, {0x00});
  EXPECT_EQ(board_.Register(0x11), 0);
  EXPECT_EQ(board_.Register(0x20), 0);
  EXPECT_EQ(board_.Register(0x21), 0);
  EXPECT_EQ(board_.Register(0x7F), 0);
  EXPECT_EQ(board_.Register(0x01), 0x3C);
}

TEST_F(SimCommandTest, OtherLampRequestsGetTheirSuccessReply) {
  for (const std::uint8_t cmd : {4, 16, 23, 32, 39, 42, 55, 64, 67, 70}) {
    const Reply r = Exchange(64, cmd, {1, 2});
    EXPECT_EQ(r.cmd, cmd + 1);
    EXPECT_TRUE(r.payload.empty());
  }
}

TEST_F(SimCommandTest, UnaskedFramesUseTheirOwnNumbering) {
  board_.RaiseInterrupt();
  const Reply first = ReadReply();
  EXPECT_EQ(first.address, 0x14);
  EXPECT_EQ(first.cls, 32);
  EXPECT_EQ(first.cmd, 37);
  EXPECT_EQ(first.payload, Bytes{1});

  const Bytes payload{0xAB};
  board_.SendFrame(8, 32, 17, payload, 0x1234);
  const Reply chosen = ReadReply();
  EXPECT_EQ(chosen.address, 0x18);
  EXPECT_EQ(chosen.seq, 0x1234);
  EXPECT_EQ(chosen.payload, payload);

  board_.RaiseInterrupt(0);
  const Reply second = ReadReply();
  EXPECT_EQ(second.seq, first.seq + 1);
  EXPECT_EQ(second.payload, Bytes{0});

  sim::Report raw;
  raw.fill(0x42);
  board_.SendRawReport(raw);
  sim::Report got;
  ASSERT_EQ(board_.HostRead(got, 1000ms), 1);
  EXPECT_EQ(got, raw);
}

}  // namespace
}  // namespace simtest
