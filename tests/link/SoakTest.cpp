#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "link/CommandSet.h"
#include "support/SimLinkFixture.h"

using namespace std::chrono_literals;
using namespace platform;

class SoakTest : public SimLinkFixture {
 protected:
  sim::SimConfig BoardConfig() const override {
    sim::SimConfig c;
    c.seed = 20261210;
    return c;
  }
};

// Thousands of commands over a link that corrupts 2 % and drops 1 % of the
// frames each way. A lost ACK stalls the window by design (no retransmission
// timer); the soak recovers with ResetLink as the window's user would by
// reconnecting. Whatever the board acknowledged must have been carried out
// exactly once, and the pool must not leak.
TEST_F(SoakTest, AcknowledgedCommandsAreDeliveredExactlyOnce) {
  ConnectLinked();
  sim::SimFaults faults;
  faults.corruptToHostPpm = faults.corruptFromHostPpm = 20000;
  faults.dropToHostPpm = faults.dropFromHostPpm = 10000;
  board->SetFaults(faults);
  board->ClearDelivered();

  std::mutex ackedMutex;
  std::map<std::uint16_t, int> acked;  // command number -> ACKs seen
  comm->Engine().SetAckObserverForTest([&](std::uint8_t cls, std::uint8_t cmd, std::span<const std::uint8_t> p) {
    if (cls != 16 || cmd != 3 || p.size() != 8) return;
    std::lock_guard lock(ackedMutex);
    ++acked[static_cast<std::uint16_t>(p[6] | (p[7] << 8))];
  });

  constexpr int kCommands = 10000;
  int stalls = 0;
  for (int i = 0; i < kCommands; ++i) {
    std::uint8_t record[6] = {1, 0x5B, 0x20, 2, 0, 0};
    const std::uint8_t data[2] = {static_cast<std::uint8_t>(i & 0xFF), static_cast<std::uint8_t>(i >> 8)};
    ASSERT_EQ(SendI2cTransfer(kCmdWriteRegisters, record, data), 1) << "command " << i;
    const auto deadline = std::chrono::steady_clock::now() + 40ms;
    while (comm->Engine().GetStats().windowCount != 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(50us);
    if (comm->Engine().GetStats().windowCount != 0) {
      ++stalls;
      comm->Engine().ResetLink();
    }
    if (i % 256 == 0) main->Drain();
  }
  std::this_thread::sleep_for(100ms);
  board->SetFaults({});
  comm->Engine().SetAckObserverForTest({});

  std::map<std::uint16_t, int> delivered;
  for (const auto& d : board->Delivered())
    if (d.cls == 16 && d.cmd == 3 && d.payload.size() == 8)
      ++delivered[static_cast<std::uint16_t>(d.payload[6] | (d.payload[7] << 8))];

  int ackedCount = 0;
  for (const auto& [number, acks] : acked) {
    EXPECT_EQ(acks, 1) << "command " << number << " acknowledged " << acks << " times";
    EXPECT_EQ(delivered[number], 1) << "acknowledged command " << number << " delivered " << delivered[number]
                                    << " times";
    ++ackedCount;
  }
  for (const auto& [number, count] : delivered) EXPECT_LE(count, 1) << "command " << number;
  // Most commands get through; a broken link would stall nearly all of them.
  EXPECT_GT(ackedCount, kCommands * 8 / 10);
  std::printf("soak: %d commands, %d acknowledged, %zu delivered, %d stalls recovered\n", kCommands, ackedCount,
              delivered.size(), stalls);

  const auto s = comm->Engine().GetStats();
  EXPECT_EQ(s.incomingInUse, 0);
  EXPECT_EQ(s.outgoingInUse, static_cast<int>(s.windowCount));
  comm->Engine().ResetLink();
  EXPECT_EQ(comm->Engine().GetStats().freeRecords, 128);
}
