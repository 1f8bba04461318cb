#include <gtest/gtest.h>

#include "link/CommandSet.h"
#include "link/Crc16.h"
#include "link/LinkState.h"
#include "platform/Messages.h"
#include "support/EngineFixture.h"

using testframes::BoardAck;
using testframes::BoardFrame;
using testframes::Bytes;
using namespace std::chrono_literals;

namespace {
std::uint16_t Seq(const Bytes& f) { return static_cast<std::uint16_t>(f[8] | (f[9] << 8)); }
}  // namespace

class ProtocolEngineTest : public EngineFixture {};

TEST_F(ProtocolEngineTest, FramesAChipAddressCommandByteForByte) {
  const std::uint8_t b = 0x59;
  ASSERT_EQ(engine().SendCommand(64, 10, 1, &b), 1);
  const Bytes wire = host.TakeWire();
  ASSERT_EQ(wire.size(), 20u);
  const Bytes body{0x10, 0x40, 0x0A, 0x00, 0x01, 0x00, 0x59, 0x00};
  const std::uint16_t crc = CCRC16::Update(0, body.data(), 8);
  Bytes expected{0x5A, 0x5A, 0x41, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00,
                 static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8)};
  expected.insert(expected.end(), body.begin(), body.end());
  EXPECT_EQ(wire, expected);
}

TEST_F(ProtocolEngineTest, CutsFramesIntoPacedReports) {
  struct Case {
    std::size_t payload;
    std::vector<std::size_t> pieces;
  };
  for (const Case& c : {Case{0, {19}}, Case{40, {59}}, Case{45, {64}}, Case{46, {64, 1}},
                        Case{60, {64, 15}}, Case{5781, std::vector<std::size_t>(90, 64)}}) {
    engine().ResetLink();
    host.TakeReports();
    sleeps.clear();
    std::vector<std::uint8_t> payload(c.payload, 0xA5);
    ASSERT_EQ(engine().SendCommand(16, 3, static_cast<std::uint16_t>(payload.size()), payload.data()), 1);
    auto reports = host.TakeReports();
    std::vector<std::size_t> sizes;
    for (auto& r : reports) sizes.push_back(r.size());
    auto expected = c.pieces;
    if (c.payload == 5781) expected.push_back(5800 - 90 * 64);  // 40 bytes left over
    EXPECT_EQ(sizes, expected) << "payload " << c.payload;
    EXPECT_EQ(sleeps, std::vector<std::uint32_t>(expected.size(), 1)) << "payload " << c.payload;
  }
}

TEST_F(ProtocolEngineTest, LargestFrameIsWholeAndLongerPayloadsAreRefused) {
  std::vector<std::uint8_t> payload(5782, 0x77);
  EXPECT_EQ(engine().SendCommand(16, 3, 5782, payload.data()), 0);  // one byte too many for a record
  EXPECT_EQ(engine().SendCommand(16, 3, 6000, payload.data()), 0);
  EXPECT_TRUE(host.TakeWire().empty());
  EXPECT_EQ(engine().GetStats().outgoingInUse, 0);

  ASSERT_EQ(engine().SendCommand(16, 3, 5781, payload.data()), 1);
  const Bytes wire = host.TakeWire();
  ASSERT_EQ(wire.size(), 5800u);
  EXPECT_EQ(wire[4] | (wire[5] << 8), 5794);    // the largest length field a receiver takes
  EXPECT_EQ(wire[16] | (wire[17] << 8), 5781);
  EXPECT_EQ(wire.back(), 0x00);                 // the trailing byte, not a neighbour's memory
  EXPECT_EQ(CCRC16::Update(0, wire.data() + 12, 5800 - 12), wire[10] | (wire[11] << 8));
}

TEST_F(ProtocolEngineTest, OneFrameInFlightAndNumbersGivenAtTransmission) {
  const std::uint8_t b = 1;
  engine().SendCommand(1, 32, 1, &b);
  engine().SendCommand(1, 32, 1, &b);
  engine().SendCommand(1, 32, 1, &b);
  Bytes first = host.TakeWire();
  ASSERT_EQ(first.size(), 20u);  // only the first left
  EXPECT_EQ(Seq(first), 0);
  EXPECT_EQ(engine().GetStats().windowCount, 3u);

  Ack(5);  // not the frame in flight: ignored
  EXPECT_TRUE(host.TakeWire().empty());

  Ack(0);
  Bytes second = host.TakeWire();
  ASSERT_EQ(second.size(), 20u);
  EXPECT_EQ(Seq(second), 1);

  Receive(BoardAck(1, 0x11));  // NAK: the same bytes again
  EXPECT_EQ(host.TakeWire(), second);

  Ack(1);
  EXPECT_EQ(Seq(host.TakeWire()), 2);
  Ack(2);
  EXPECT_TRUE(host.TakeWire().empty());
  const auto s = engine().GetStats();
  EXPECT_FALSE(s.inFlight);
  EXPECT_EQ(s.outgoingInUse, 0);
  EXPECT_EQ(s.incomingInUse, 0);
  EXPECT_EQ(s.freeRecords, 128);
}

TEST_F(ProtocolEngineTest, AcknowledgesGoodFramesAndNaksBadOnes) {
  Bytes good = BoardFrame(64, 2, {0, 0, 1, 0}, 0x1234);
  Receive(good);
  EXPECT_EQ(host.TakeWire(), (Bytes{0x5A, 0x5A, 0x41, 0x00, 0x06, 0x00, 0x00, 0x10, 0x34, 0x12, 0x00, 0x00}));
  EXPECT_TRUE(main->WaitFor(platform::kMsgBoardQueryOk, 100ms));

  Bytes bad = good;
  bad.back() ^= 0x01;  // payload no longer matches its CRC
  Receive(bad);
  EXPECT_EQ(host.TakeWire(), (Bytes{0x5A, 0x5A, 0x41, 0x00, 0x06, 0x00, 0x00, 0x11, 0x34, 0x12, 0x00, 0x00}));
  EXPECT_FALSE(main->Wait(20ms));
  EXPECT_EQ(engine().GetStats().incomingInUse, 0);
}

TEST_F(ProtocolEngineTest, DropsMalformedFramesWithoutReply) {
  struct Case {
    const char* what;
    Bytes frame;
  };
  Bytes wrongSender = BoardFrame(64, 2, {0, 0, 1});
  wrongSender[2] = 0x24;
  Bytes tooLong = BoardFrame(64, 2, Bytes(5795 - 12, 0));  // length field 5795
  Bytes notMagic = BoardFrame(64, 2, {0, 0, 1});
  notMagic[1] = 0x5B;
  for (const auto& c : {Case{"sender nibble not 1", wrongSender}, Case{"length field 5795", tooLong},
                        Case{"no magic", notMagic}}) {
    Receive(c.frame);
    EXPECT_TRUE(host.TakeWire().empty()) << c.what;
    EXPECT_EQ(engine().GetStats().incomingInUse, 0) << c.what;
    EXPECT_FALSE(engine().GetStats().reassembling) << c.what;
  }
  EXPECT_EQ(main->Pending(), 0u);

  // The largest accepted frame, length field 5794.
  Receive(BoardFrame(64, 2, Bytes(5794 - 12, 0)));
  EXPECT_EQ(host.TakeWire().size(), 12u);
  EXPECT_TRUE(main->WaitFor(platform::kMsgBoardQueryOk, 100ms));
}

TEST_F(ProtocolEngineTest, ReassemblesOverThreeReportsUsingOnlyTheMissingBytes) {
  Bytes payload(140 - 18, 0);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i);
  Bytes f = BoardFrame(64, 2, payload);
  ASSERT_EQ(f.size(), 140u);
  auto reports = testframes::Cut(f);
  ASSERT_EQ(reports.size(), 3u);
  reports[2][140 - 128] = 0x5A;  // junk after the frame's end must not be read
  for (int i = 0; i < 3; ++i) {
    engine().QueueReport(reports[i].data());
    EXPECT_EQ(engine().ProcessReport(), i == 2 ? 1 : 0);
    if (i < 2) {
      EXPECT_EQ(main->Pending(), 0u);
    }
  }
  auto m = main->WaitFor(platform::kMsgBoardQueryOk, 100ms);
  ASSERT_TRUE(m && m->Bytes());
  EXPECT_EQ(*m->Bytes(), payload);
}

TEST_F(ProtocolEngineTest, StrayReportsAreDiscardedUntilAFrameStarts) {
  testframes::Report junk;
  junk.fill(0x00);
  engine().QueueReport(junk.data());
  EXPECT_EQ(engine().ProcessReport(), 0);
  EXPECT_EQ(engine().ProcessReport(), 0);  // empty queue
  EXPECT_EQ(Receive(BoardFrame(64, 2, {0, 0, 3})), 1);
  EXPECT_TRUE(main->WaitFor(platform::kMsgBoardQueryOk, 100ms));
}

TEST_F(ProtocolEngineTest, ReportWithAnImpossibleLengthStartsNoFrame) {
  // A stray report that begins with the magic must not swallow the reports
  // after it: the ACK right behind it still moves the window on.
  const std::uint8_t b = 0;
  for (const std::uint16_t lengthField : {std::uint16_t{0}, std::uint16_t{5}, std::uint16_t{5795},
                                          std::uint16_t{0xFFFF}}) {
    engine().ResetLink();
    ASSERT_EQ(engine().SendCommand(64, 10, 1, &b), 1);
    ASSERT_EQ(engine().SendCommand(64, 10, 1, &b), 1);
    host.TakeWire();
    testframes::Report head;
    head.fill(0xEE);
    head[0] = head[1] = 0x5A;
    head[4] = static_cast<std::uint8_t>(lengthField);
    head[5] = static_cast<std::uint8_t>(lengthField >> 8);
    engine().QueueReport(head.data());
    EXPECT_EQ(engine().ProcessReport(), 0) << lengthField;
    EXPECT_FALSE(engine().GetStats().reassembling) << lengthField;
    Ack(0);
    EXPECT_EQ(Seq(host.TakeWire()), 1) << "the second frame went out after the ACK, length " << lengthField;
  }
}

TEST_F(ProtocolEngineTest, MissingAckResendsTheSameBytesThenFailsTheLink) {
  const std::uint8_t b = 0x42;
  ASSERT_EQ(engine().SendCommand(64, 10, 1, &b), 1);
  ASSERT_EQ(engine().SendCommand(16, 1, 1, &b), 1);  // queued behind it
  const Bytes first = host.TakeWire();
  const auto overdue = [] { return ProtocolEngine::Clock::now() + ProtocolEngine::kAckTimeout + 1ms; };

  engine().Poll(ProtocolEngine::Clock::now() + ProtocolEngine::kAckTimeout / 2);
  EXPECT_TRUE(host.TakeWire().empty()) << "not due yet";
  for (int i = 0; i < ProtocolEngine::kMaxRetransmissions; ++i) {
    engine().Poll(overdue());
    EXPECT_EQ(host.TakeWire(), first) << "retransmission " << i + 1;
    engine().Poll(ProtocolEngine::Clock::now());  // the deadline starts again with every send
    EXPECT_TRUE(host.TakeWire().empty());
  }
  EXPECT_TRUE(host.posted.empty());

  engine().Poll(overdue());
  EXPECT_TRUE(host.TakeWire().empty()) << "no sixth send";
  EXPECT_EQ(host.posted, std::vector<int>{kLinkFailed});
  auto s = engine().GetStats();
  EXPECT_EQ(s.windowCount, 0u);
  EXPECT_EQ(s.outgoingInUse, 0) << "the frame and the one behind it went back to the pool";
  EXPECT_FALSE(s.inFlight);
  EXPECT_EQ(s.linkFailures, 1u);
  EXPECT_EQ(s.retransmissions, 4u);
  engine().Poll(overdue());
  EXPECT_EQ(host.posted.size(), 1u) << "reported once";

  // The next command goes out at once.
  ASSERT_EQ(engine().SendCommand(64, 10, 1, &b), 1);
  EXPECT_EQ(host.TakeWire().size(), 20u);

  // An ACK in time ends the waiting: nothing more is sent for that frame.
  Ack(engine().GetStats().currentSequence);
  engine().Poll(overdue());
  EXPECT_TRUE(host.TakeWire().empty());
  EXPECT_EQ(host.posted.size(), 1u);
}

TEST_F(ProtocolEngineTest, NaksAreAnsweredABoundedNumberOfTimes) {
  const std::uint8_t b = 7;
  ASSERT_EQ(engine().SendCommand(64, 10, 1, &b), 1);
  const Bytes first = host.TakeWire();
  // Three NAKs, then the ACK: the count belongs to that frame only.
  for (int i = 0; i < 3; ++i) {
    Ack(0, 0x11);
    EXPECT_EQ(host.TakeWire(), first);
  }
  ASSERT_EQ(engine().SendCommand(64, 10, 1, &b), 1);
  Ack(0);
  const Bytes second = host.TakeWire();
  ASSERT_EQ(Seq(second), 1);

  // A board that refuses everything: four more sends, then the link fails.
  for (int i = 0; i < ProtocolEngine::kMaxRetransmissions; ++i) {
    Ack(1, 0x11);
    EXPECT_EQ(host.TakeWire(), second) << "NAK " << i + 1;
  }
  EXPECT_TRUE(host.posted.empty());
  Ack(1, 0x11);
  EXPECT_TRUE(host.TakeWire().empty());
  EXPECT_EQ(host.posted, std::vector<int>{kLinkFailed});
  EXPECT_EQ(engine().GetStats().outgoingInUse, 0);
  Ack(1, 0x11);  // a late NAK finds nothing in flight
  EXPECT_TRUE(host.TakeWire().empty());
}

TEST_F(ProtocolEngineTest, DuplicateFilterAppliesToEndpoint8Only) {
  for (std::uint8_t endpoint : {4, 8}) {
    main->Drain();
    Bytes f = BoardFrame(32, 37, {1}, 77, endpoint);
    Receive(f);
    Receive(f);
    EXPECT_EQ(host.TakeReports().size(), 2u) << "both are acknowledged, endpoint " << int(endpoint);
    int delivered = 0;
    while (main->WaitFor(platform::kMsgInterrupt, 20ms)) ++delivered;
    EXPECT_EQ(delivered, endpoint == 8 ? 1 : 2) << "endpoint " << int(endpoint);
  }
  // ResetLink forgets the last number from endpoint 8.
  engine().ResetLink();
  Receive(BoardFrame(32, 37, {1}, 77, 8));
  EXPECT_TRUE(main->WaitFor(platform::kMsgInterrupt, 100ms));
}

TEST_F(ProtocolEngineTest, PoolRefusesThe65thCommandUntilResetLink) {
  const std::uint8_t b = 0;
  for (int i = 0; i < 64; ++i) ASSERT_EQ(engine().SendCommand(64, 10, 1, &b), 1) << i;
  EXPECT_EQ(engine().SendCommand(64, 10, 1, &b), 0);
  // Incoming frames still have their own 64 records.
  Receive(BoardFrame(64, 2, {0, 0, 1}));
  EXPECT_TRUE(main->WaitFor(platform::kMsgBoardQueryOk, 100ms));

  engine().ResetLink();
  host.TakeWire();
  EXPECT_EQ(engine().SendCommand(64, 10, 1, &b), 1);
  EXPECT_EQ(Seq(host.TakeWire()), 0);
  const auto s = engine().GetStats();
  EXPECT_EQ(s.outgoingInUse, 1);
  EXPECT_EQ(s.freeRecords, 127);
}

TEST_F(ProtocolEngineTest, NothingMovesBeforeTheFirstResetLink) {
  ProtocolEngine fresh;
  RecordingHost freshHost;
  fresh.SetHost(&freshHost);
  EXPECT_EQ(fresh.SendCommand(1, 32, 0, nullptr), 0);
  EXPECT_TRUE(freshHost.TakeWire().empty());
}

TEST_F(ProtocolEngineTest, HandshakeAnswersSetTheLinkState) {
  struct Case {
    Bytes payload;
    std::vector<int> posted;
  };
  for (const Case& c : {Case{{0x5A, 0x5A, 0x00, 0x01}, {3}}, Case{{0x5A, 0x5A, 0x00, 0x02}, {0}},
                        Case{{0x5A, 0x5A, 0x00}, {}}}) {
    host.posted.clear();
    Receive(BoardFrame(1, 2, c.payload));
    EXPECT_EQ(host.posted, c.posted) << c.payload.size() << " bytes";
  }
  host.posted.clear();
  Receive(BoardFrame(1, 8, {}));
  EXPECT_EQ(host.posted, std::vector<int>{1});
}

TEST_F(ProtocolEngineTest, AnswersTheBoardsHandshakeRequest) {
  EXPECT_EQ(engine().SendHandshake(), 1);
  Bytes request = host.TakeWire();
  EXPECT_EQ(request[13], 1);
  EXPECT_EQ(request[14], 1);
  Ack(0);
  Receive(BoardFrame(1, 1, {}));
  Bytes wire = host.TakeWire();
  ASSERT_EQ(wire.size(), 12u + 23u);  // our ACK, then (1, 2) with 4 bytes
  Bytes answer(wire.begin() + 12, wire.end());
  EXPECT_EQ(answer[13], 1);
  EXPECT_EQ(answer[14], 2);
  EXPECT_EQ(Bytes(answer.begin() + 18, answer.begin() + 22), (Bytes{0x5A, 0x5A, 0x00, 0x01}));
}

TEST_F(ProtocolEngineTest, Class255IsAcceptedOnlyUntilAnotherPairWas) {
  Receive(BoardFrame(255, 0, {1}));
  EXPECT_TRUE(host.posted.empty());
  Receive(BoardFrame(64, 2, {0, 0, 1}));
  Receive(BoardFrame(255, 0, {1}));
  EXPECT_EQ(host.posted, std::vector<int>{1});
  // An unknown pair is acknowledged all the same.
  EXPECT_EQ(host.TakeReports().size(), 3u);
}

TEST_F(ProtocolEngineTest, PayloadLengthFieldBeyondTheFrameIsClamped) {
  Receive(BoardFrame(64, 2, {7, 8, 9}, 0, 4, /*payloadLengthField=*/1000));
  auto m = main->WaitFor(platform::kMsgBoardQueryOk, 100ms);
  ASSERT_TRUE(m && m->Bytes());
  EXPECT_EQ(*m->Bytes(), (Bytes{7, 8, 9}));

  // A body shorter than its own header carries no command at all.
  Bytes stub = BoardFrame(64, 2, {});
  stub.resize(15);
  stub[4] = 15 - 6;
  const std::uint16_t crc = CCRC16::Update(0, stub.data() + 12, 3);
  stub[10] = static_cast<std::uint8_t>(crc);
  stub[11] = static_cast<std::uint8_t>(crc >> 8);
  Receive(stub);
  EXPECT_EQ(host.TakeReports().size(), 2u);  // both acknowledged
  EXPECT_FALSE(main->Wait(20ms));
  EXPECT_TRUE(host.posted.empty());
}

// Whoever waits for an answer has it before its ACK is written, and the
// engine's lock is free while a sink or a host runs: a sink that sends the
// next command at once, and a host that asks the engine about itself while
// it writes, would otherwise wait on themselves. The ACK still goes out ahead
// of the command sent meanwhile.
TEST_F(ProtocolEngineTest, AnswersAreHandedOnBeforeTheirAckAndNothingRunsUnderTheLock) {
  struct EnteringHost : RecordingHost {
    int WriteReport(const std::uint8_t* data, int length) override {
      engineSeen = engine->GetStats().outgoingInUse;  // re-enters the engine
      return RecordingHost::WriteReport(data, length);
    }
    ProtocolEngine* engine = nullptr;
    int engineSeen = -1;
  };
  struct SendingSink : ReplySink {
    void OnReply(std::uint8_t cls, std::uint8_t, std::span<const std::uint8_t>, std::uint16_t) override {
      wireAtAnswer = host->TakeWire();
      const std::uint8_t b = 1;
      sent = engine->SendCommand(64, 10, 1, &b);
      answered = cls;
    }
    ProtocolEngine* engine = nullptr;
    RecordingHost* host = nullptr;
    Bytes wireAtAnswer{0xEE};
    int sent = 0;
    int answered = 0;
  };
  ProtocolEngine own;
  EnteringHost wire;
  SendingSink sink;
  wire.engine = &own;
  sink.engine = &own;
  sink.host = &wire;
  own.SetHost(&wire);
  own.SetReplySink(&sink);
  own.ResetLink();

  for (const auto& r : testframes::Cut(BoardFrame(64, 2, {0, 0, 1, 0}, 0x0203))) {
    own.QueueReport(r.data());
    own.ProcessReport();
  }
  EXPECT_EQ(sink.answered, 64);
  EXPECT_TRUE(sink.wireAtAnswer.empty()) << "the ACK was written before the answer was handed on";
  EXPECT_EQ(sink.sent, 1);
  const Bytes after = wire.TakeWire();
  ASSERT_EQ(after.size(), 12u + 20u);
  EXPECT_EQ(Bytes(after.begin(), after.begin() + 12),
            (Bytes{0x5A, 0x5A, 0x41, 0x00, 0x06, 0x00, 0x00, 0x10, 0x03, 0x02, 0x00, 0x00}))
      << "our ACK first";
  EXPECT_EQ(after[12 + 14], 10) << "then the command sent meanwhile";
  EXPECT_EQ(wire.engineSeen, 1) << "the host could ask the engine while it wrote";
  own.SetReplySink(nullptr);
  own.SetHost(nullptr);
}
