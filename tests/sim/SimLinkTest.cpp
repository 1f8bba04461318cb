// The board's side of the framed link: acknowledgements, reassembly, the
// duplicate filter, resends on NAK, fault knobs, and robustness against
// whatever arrives on the wire.
#include <mutex>
#include <random>
#include <thread>

#include "sim/SimHostSide.h"

namespace simtest {
namespace {

using SimLinkTest = BoardFixture;

TEST_F(SimLinkTest, HandshakeIsAckedAndAnsweredByteForByte) {
  seq_ = 0x0107;
  const std::uint16_t seq = Send(1, 1, {});
  sim::Report first;
  ASSERT_EQ(board_.HostRead(first, 1000ms), 1);
  const Bytes ack{0x5A, 0x5A, 0x14, 0x00, 0x06, 0x00, 0x00, 0x10, 0x07, 0x01, 0x00, 0x00};
  EXPECT_EQ(Bytes(first.begin(), first.begin() + 12), ack);
  EXPECT_EQ(seq, 0x0107);

  // The board's first frame: sequence 0, length 12 + 4, no trailing byte.
  Bytes expected{0x5A, 0x5A, 0x14, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0, 0,
                 0x10, 0x01, 0x02, 0x00, 0x04, 0x00, 0x5A, 0x5A, 0x00, 0x01};
  SealChecksum(expected);
  EXPECT_EQ(ReadFrame(), expected);
  EXPECT_TRUE(NothingQueued());

  // A wrong handshake differs only in its last byte; the board's own
  // numbering goes on.
  board_.SetFaults({.wrongHandshake = true});
  const Reply wrong = Exchange(1, 1, {});
  EXPECT_EQ(wrong.seq, 1);
  EXPECT_EQ(wrong.payload, (Bytes{0x5A, 0x5A, 0x00, 0x02}));
}

TEST_F(SimLinkTest, BadChecksumIsNakedAndNotCarriedOut) {
  Bytes frame = HostFrame(5, 16, 3, Concat(I2cRecord(0x5B, 0x20, 1), {0x55}));
  Bytes spoiled = frame;
  spoiled[24] ^= 0x01;  // the data byte
  WriteFrame(spoiled);
  ExpectLinkFrame(5, kNak);
  EXPECT_TRUE(NothingQueued());
  EXPECT_EQ(board_.Register(0x20), 0);
  EXPECT_TRUE(board_.Delivered().empty());
  EXPECT_EQ(board_.GetCounters().badChecksums, 1u);

  // The host's retransmission of the good frame is a new frame to the board.
  WriteFrame(frame);
  ExpectLinkFrame(5, kAck);
  EXPECT_EQ(ReadReply().cmd, 4);
  EXPECT_EQ(board_.Register(0x20), 0x55);
  EXPECT_EQ(board_.GetCounters().duplicates, 0u);
}

TEST_F(SimLinkTest, ReportsWithoutAFrameAreDroppedAndLongFramesWaitForTheirLastReport) {
  sim::Report junk;
  junk.fill(0x33);
  ASSERT_TRUE(board_.HostWrite(junk));

  Bytes data(100);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);
  const auto reports = ToReports(HostFrame(0, 16, 3, Concat(I2cRecord(0x5B, 0x20, 100), data)));
  ASSERT_EQ(reports.size(), 2u);
  ASSERT_TRUE(board_.HostWrite(reports[0]));
  EXPECT_TRUE(NothingQueued());
  EXPECT_TRUE(board_.Delivered().empty());
  ASSERT_TRUE(board_.HostWrite(reports[1]));
  ExpectLinkFrame(0, kAck);
  EXPECT_EQ(ReadReply().payload.size(), 106u);
  EXPECT_EQ(board_.Register(0x20), 1);
  EXPECT_EQ(board_.Register(0x83), 100);
}

TEST_F(SimLinkTest, FrameWithSpoiledLengthIsAbandonedWhenTheNextFrameComesLater) {
  Bytes liar = HostFrame(0, 1, 1, {});
  PutU16(liar, 4, 200);  // claims four reports; only one ever comes
  WriteFrame(liar);
  std::this_thread::sleep_for(40ms);
  EXPECT_EQ(Exchange(1, 1, {}).cmd, 2);
}

TEST_F(SimLinkTest, SlowReportsStillCompleteTheirFrame) {
  const auto reports = ToReports(HostFrame(0, 1, 32, Bytes(60, 0x5A)));
  ASSERT_EQ(reports.size(), 2u);
  ASSERT_TRUE(board_.HostWrite(reports[0]));
  std::this_thread::sleep_for(40ms);
  ASSERT_TRUE(board_.HostWrite(reports[1]));
  ExpectLinkFrame(0, kAck);
  EXPECT_EQ(ReadReply().cmd, 33);
}

TEST_F(SimLinkTest, RetransmittedFrameIsAckedAgainButCarriedOutOnce) {
  const Bytes frame = HostFrame(9, 16, 3, Concat(I2cRecord(0x5B, 0x11, 1), {0x10}));
  WriteFrame(frame);
  ExpectLinkFrame(9, kAck);
  EXPECT_EQ(ReadReply().cmd, 4);
  board_.SetRegister(0x11, 0);  // so that a second execution would show
  WriteFrame(frame);
  ExpectLinkFrame(9, kAck);
  EXPECT_TRUE(NothingQueued());
  EXPECT_EQ(board_.Register(0x11), 0);
  EXPECT_EQ(board_.GetCounters().duplicates, 1u);

  // The same command under the next number is a new request.
  WriteFrame(HostFrame(10, 16, 3, Concat(I2cRecord(0x5B, 0x11, 1), {0x10})));
  ExpectLinkFrame(10, kAck);
  EXPECT_EQ(ReadReply().cmd, 4);
  EXPECT_EQ(board_.Register(0x11), 0x10);
  const auto delivered = board_.Delivered();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].sequence, 9);
  EXPECT_EQ(delivered[1].sequence, 10);
  EXPECT_EQ(delivered[1].cls, 16);
  EXPECT_EQ(delivered[1].cmd, 3);
  EXPECT_EQ(delivered[1].payload, Concat(I2cRecord(0x5B, 0x11, 1), {0x10}));
}

TEST_F(SimLinkTest, AFrameWhoseNumberWasSpoiledIsRefusedNotCarriedOutTwice) {
  // The number is outside the checksum: a write that arrives as 0x0A0A
  // instead of 0x000A would be done again when the host repeats it under
  // its real number.
  const Bytes write = Concat(I2cRecord(0x5B, 0x12, 1), {0x34});
  WriteFrame(HostFrame(9, 16, 3, Concat(I2cRecord(0x5B, 0x11, 1), {0x10})));
  ExpectLinkFrame(9, kAck);
  EXPECT_EQ(ReadReply().cmd, 4);
  for (const std::uint16_t spoiled : {std::uint16_t{0x0A0A}, std::uint16_t{9}, std::uint16_t{12}}) {
    WriteFrame(HostFrame(spoiled, 16, 3, write));
    ExpectLinkFrame(spoiled, kNak);
    EXPECT_TRUE(NothingQueued()) << spoiled;
  }
  EXPECT_EQ(board_.Register(0x12), 0);
  WriteFrame(HostFrame(10, 16, 3, write));
  ExpectLinkFrame(10, kAck);
  EXPECT_EQ(ReadReply().cmd, 4);
  EXPECT_EQ(board_.Register(0x12), 0x34);
  EXPECT_EQ(board_.GetCounters().spoiledNumbers, 3u);

  // A handshake starts the numbering again, whatever its number.
  WriteFrame(HostFrame(0, 1, 1, {}));
  ExpectLinkFrame(0, kAck);
  EXPECT_EQ(ReadReply().cmd, 2);
  WriteFrame(HostFrame(1, 1, 32, {0}));
  ExpectLinkFrame(1, kAck);
  EXPECT_EQ(ReadReply().cmd, 33);
}

TEST_F(SimLinkTest, NakMakesTheBoardSendThatFrameAgainUnchanged) {
  Send(1, 32, {0});
  ExpectLinkFrame(0, kAck);
  const auto version = ReadFrame();
  ASSERT_TRUE(version);
  board_.RaiseInterrupt();
  const auto interrupt = ReadFrame();
  ASSERT_TRUE(interrupt);
  ASSERT_EQ(ParseReply(*interrupt).seq, 1);

  WriteFrame(HostLinkFrame(0, kNak));
  EXPECT_EQ(ReadFrame(), version);
  WriteFrame(HostLinkFrame(1, kNak));
  EXPECT_EQ(ReadFrame(), interrupt);
  WriteFrame(HostLinkFrame(77, kNak));  // never sent: nothing to resend
  WriteFrame(HostLinkFrame(1, kAck));
  EXPECT_TRUE(NothingQueued());
  const auto counters = board_.GetCounters();
  EXPECT_EQ(counters.naksFromHost, 3u);
  EXPECT_EQ(counters.acksFromHost, 1u);
}

TEST_F(SimLinkTest, FramesTheFirmwareCannotUseAreAckedAndIgnored) {
  Bytes overlong = HostFrame(2, 64, 4, {1, 2});
  PutU16(overlong, 16, 40);  // payload length beyond the frame
  SealChecksum(overlong);
  Bytes bodiless{0x5A, 0x5A, 0x41, 0x00, 0x06, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00};

  WriteFrame(HostFrame(1, 200, 7, {1, 2, 3}));  // unknown class
  ExpectLinkFrame(1, kAck);
  WriteFrame(overlong);
  ExpectLinkFrame(2, kAck);
  WriteFrame(bodiless);
  ExpectLinkFrame(3, kAck);
  WriteFrame(HostFrame(4, 64, 99, {}));  // unknown lamp command
  ExpectLinkFrame(4, kAck);
  EXPECT_TRUE(NothingQueued());
  EXPECT_EQ(board_.Delivered().size(), 2u);  // the well-formed ones

  // Not addressed to the board, or of no known type: no answer at all.
  WriteFrame(HostFrame(5, 1, 1, {}, 0x42));
  Bytes oddType = HostLinkFrame(6, 0x20);
  WriteFrame(oddType);
  EXPECT_TRUE(NothingQueued());
}

// Run it under the address sanitizer to see the point: no length from the
// wire may lead to a read outside the bytes that came.
TEST_F(SimLinkTest, ArbitraryReportsNeverUpsetTheBoard) {
  std::mt19937 rng(12345);
  const auto drain = [&] {
    sim::Report r;
    while (board_.HostRead(r, 0ms) == 1) {
    }
  };
  for (int i = 0; i < 4000; ++i) {
    sim::Report r;
    for (auto& b : r) b = static_cast<std::uint8_t>(rng());
    switch (rng() % 4) {
      case 0: {  // a frame start with any length and type
        r[0] = r[1] = 0x5A;
        r[2] = rng() % 2 ? 0x41 : r[2];
        r[4] = static_cast<std::uint8_t>(rng() % 2 ? rng() % 140 : rng());
        r[5] = static_cast<std::uint8_t>(rng() % 4 == 0 ? rng() : 0);
        r[7] = static_cast<std::uint8_t>(rng() % 3 == 0 ? 0x10 + rng() % 2 : 0);
        break;
      }
      case 1: {  // a sound frame with a command of any shape; no boot value,
                 // which would take the board away from the framed link
        std::uint8_t cls = static_cast<std::uint8_t>(rng());
        if (rng() % 2) cls = std::array<std::uint8_t, 4>{1, 16, 32, 64}[rng() % 4];
        Bytes payload(rng() % 80);
        for (auto& b : payload) b = static_cast<std::uint8_t>(rng() % 3 ? rng() : 0x5B);
        WriteFrame(HostFrame(static_cast<std::uint16_t>(rng()), cls,
                             static_cast<std::uint8_t>(rng() % 80), payload));
        continue;
      }
      default: break;
    }
    ASSERT_TRUE(board_.HostWrite(r));
    if (i % 64 == 0) drain();
  }
  drain();
  std::this_thread::sleep_for(40ms);  // let a half-built frame go stale
  EXPECT_EQ(Exchange(1, 1, {}).cmd, 2);

  board_.RestartIntoBootloader();
  for (int i = 0; i < 600; ++i) {
    sim::Report r;
    for (auto& b : r) b = static_cast<std::uint8_t>(rng());
    r[0] = static_cast<std::uint8_t>(0xE0 + rng() % 5);  // everything but the end record
    if (r[0] == 0xE1 && rng() % 2) r[7] = 0;             // erase lengths that fit, too
    if (r[0] == 0xE2 && rng() % 2) r[6] = r[7] = 0;
    ASSERT_TRUE(board_.HostWrite(r));
    drain();
  }
  EXPECT_EQ(board_.ReleaseNumber(), sim::kReleaseBootloader);
}

TEST_F(SimLinkTest, AllOrNothingFaultKnobs) {
  enum class Output { kNothing, kNak, kAckOneByteOff };
  struct Case {
    const char* name;
    sim::SimFaults faults;
    Output output;
    bool carriedOut;
  };
  const Case cases[] = {
      {"silent", {.silent = true}, Output::kNothing, false},
      {"nak", {.nakFromHostPpm = 1'000'000}, Output::kNak, false},
      {"lost to host", {.dropToHostPpm = 1'000'000}, Output::kNothing, true},
      {"lost from host", {.dropFromHostPpm = 1'000'000}, Output::kNothing, false},
      {"spoiled to host", {.corruptToHostPpm = 1'000'000}, Output::kAckOneByteOff, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimBoard board;
    board.SetFaults(c.faults);
    for (const auto& r : ToReports(HostFrame(3, 16, 3, Concat(I2cRecord(0x5B, 0x30, 1), {0x77})))) {
      ASSERT_TRUE(board.HostWrite(r));
    }
    sim::Report r;
    const Bytes ack = BoardLinkFrame(3, kAck);
    switch (c.output) {
      case Output::kNothing: EXPECT_EQ(board.HostRead(r, 0ms), 0); break;
      case Output::kNak:
        ASSERT_EQ(board.HostRead(r, 0ms), 1);
        EXPECT_EQ(Bytes(r.begin(), r.begin() + 12), BoardLinkFrame(3, kNak));
        break;
      case Output::kAckOneByteOff: {
        ASSERT_EQ(board.HostRead(r, 0ms), 1);
        int differing = 0;
        for (std::size_t i = 0; i < ack.size(); ++i) differing += r[i] != ack[i];
        EXPECT_EQ(differing, 1);
        break;
      }
    }
    EXPECT_EQ(board.Register(0x30), c.carriedOut ? 0x77 : 0);
    EXPECT_EQ(board.Delivered().size(), c.carriedOut ? 1u : 0u);
  }
}

TEST_F(SimLinkTest, EveryReportWaitsForTheLatencyBothWays) {
  board_.SetFaults({.reportLatency = 15ms});
  auto start = std::chrono::steady_clock::now();
  Send(1, 1, {});  // one report out
  EXPECT_GE(std::chrono::steady_clock::now() - start, 15ms);
  start = std::chrono::steady_clock::now();
  ASSERT_TRUE(ReadFrame());  // ACK
  ASSERT_TRUE(ReadFrame());  // reply
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

// Two host threads write while a third reads and the test raises
// interrupts; run under the thread sanitizer to see the point.
TEST_F(SimLinkTest, ConcurrentWritersReaderAndControl) {
  constexpr int kPerWriter = 60;
  constexpr int kInterrupts = 20;
  constexpr int kExpectedFrames = 2 * kPerWriter * 2 + kInterrupts;
  // One numbering for both, as a host has: the board refuses a number that
  // does not follow the last one.
  std::mutex numbering;
  std::uint16_t next = 0;
  const auto writer = [&](std::uint8_t firstReg) {
    for (int i = 0; i < kPerWriter; ++i) {
      const auto reg = static_cast<std::uint8_t>(firstReg + i);
      std::lock_guard lock(numbering);
      const auto frame = HostFrame(next++, 16, 3, Concat(I2cRecord(0x5B, reg, 1), {reg}));
      for (const auto& r : ToReports(frame)) EXPECT_TRUE(board_.HostWrite(r));
    }
  };
  int framesRead = 0;
  std::thread reader([&] {
    sim::Report r;
    while (framesRead < kExpectedFrames && board_.HostRead(r, 2000ms) == 1) ++framesRead;
  });
  std::thread a(writer, 0x20);
  std::thread b(writer, 0x80);
  for (int i = 0; i < kInterrupts; ++i) board_.RaiseInterrupt();
  a.join();
  b.join();
  reader.join();
  EXPECT_EQ(framesRead, kExpectedFrames);
  EXPECT_EQ(board_.Delivered().size(), 2u * kPerWriter);
  EXPECT_EQ(board_.Register(0x20 + kPerWriter - 1), 0x20 + kPerWriter - 1);
  EXPECT_EQ(board_.Register(0x80 + kPerWriter - 1), 0x80 + kPerWriter - 1);
}

}  // namespace
}  // namespace simtest
