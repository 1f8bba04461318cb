#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <thread>

#include "link/CommandSet.h"
#include "link/LinkState.h"
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

// A hundred thousand commands over a link that corrupts 2 % and drops 1 % of
// the frames each way, with nothing on the test's side but what the window
// does: a failed link is reconnected. Lost frames and ACKs are sent again by
// the engine itself; whatever the board acknowledged must have been carried
// out exactly once, no command may stall, and the pool must end empty.
//
// The board here answers at once (no USB latency), so the ACK timeout is
// shortened to match; the retransmissions are the same. CORVEL_SOAK_COMMANDS
// sets another count.
TEST_F(SoakTest, AcknowledgedCommandsAreDeliveredExactlyOnce) {
  int commands = 100000;
  if (const char* n = std::getenv("CORVEL_SOAK_COMMANDS")) commands = std::max(1, std::atoi(n));
  ConnectLinked();
  comm->Engine().SetAckTimeout(10ms);
  sim::SimFaults faults;
  faults.corruptToHostPpm = faults.corruptFromHostPpm = 20000;
  faults.dropToHostPpm = faults.dropFromHostPpm = 10000;
  board->SetFaults(faults);
  board->ClearDelivered();

  // Command numbers travel in three data bytes of a register write.
  const auto number = [](std::span<const std::uint8_t> p) { return p[6] | p[7] << 8 | p[8] << 16; };
  std::mutex ackedMutex;
  std::map<int, int> acked;  // command number -> ACKs seen
  comm->Engine().SetAckObserverForTest([&](std::uint8_t cls, std::uint8_t cmd, std::span<const std::uint8_t> p) {
    if (cls != 16 || cmd != 3 || p.size() != 9) return;
    std::lock_guard lock(ackedMutex);
    ++acked[number(p)];
  });

  int linkFailures = 0;
  const auto handleMessages = [&] {
    for (const Message& m : main->Drain()) {
      if (m.id != kMsgLinkState || m.wParam != static_cast<std::uintptr_t>(kLinkFailed)) continue;
      // What the window does: reset the link and reconnect.
      ++linkFailures;
      board->SetFaults({});
      ASSERT_EQ(comm->Reconnect(), 1);
      ASSERT_TRUE(Await(kMsgLinkState));
      board->SetFaults(faults);
    }
  };

  const auto started = std::chrono::steady_clock::now();
  int stalls = 0;
  for (int i = 0; i < commands; ++i) {
    std::uint8_t record[6] = {1, 0x5B, 0x20, 3, 0, 0};
    const std::uint8_t data[3] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8),
                                  static_cast<std::uint8_t>(i >> 16)};
    ASSERT_EQ(SendI2cTransfer(kCmdWriteRegisters, record, data), 1) << "command " << i;
    // Acknowledged, or given up on, well within this; anything longer is a
    // stall the engine did not get out of.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (comm->Engine().GetStats().windowCount != 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(20us);
    if (comm->Engine().GetStats().windowCount != 0) ++stalls;
    if (i % 256 == 0 || comm->Engine().GetStats().linkFailures != static_cast<std::uint64_t>(linkFailures))
      handleMessages();
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::this_thread::sleep_for(100ms);
  handleMessages();
  board->SetFaults({});
  comm->Engine().SetAckObserverForTest({});

  std::map<int, int> delivered;
  for (const auto& d : board->Delivered())
    if (d.cls == 16 && d.cmd == 3 && d.payload.size() == 9) ++delivered[number(d.payload)];

  int ackedCount = 0;
  for (const auto& [n, acks] : acked) {
    EXPECT_EQ(acks, 1) << "command " << n << " acknowledged " << acks << " times";
    EXPECT_EQ(delivered[n], 1) << "acknowledged command " << n << " delivered " << delivered[n] << " times";
    ++ackedCount;
  }
  for (const auto& [n, count] : delivered) EXPECT_LE(count, 1) << "command " << n;
  EXPECT_EQ(stalls, 0);
  const auto s = comm->Engine().GetStats();
  const auto c = board->GetCounters();
  std::printf("soak: %d commands in %.1f s, %d acknowledged, %zu carried out, %llu retransmissions, "
              "%llu NAKs from the board, %llu duplicates filtered by the board, %d link failures "
              "(reconnected), %d stalls\n",
              commands, seconds, ackedCount, delivered.size(), static_cast<unsigned long long>(s.retransmissions),
              static_cast<unsigned long long>(c.badChecksums), static_cast<unsigned long long>(c.duplicates),
              linkFailures, stalls);
  // Only a link that failed loses a command, and it should almost never.
  EXPECT_GE(ackedCount, commands - 64 * linkFailures);

  // Everything went back to the pool without a reset.
  EXPECT_EQ(s.incomingInUse, 0);
  EXPECT_EQ(s.outgoingInUse, 0);
  EXPECT_EQ(s.windowCount, 0u);
  EXPECT_EQ(s.freeRecords, 128);
}
