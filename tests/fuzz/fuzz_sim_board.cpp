// Arbitrary reports into the simulated board, in both of its modes: it must
// never crash, whatever a host sends. The board has no thread here: a
// restart it schedules (a boot value taken, the bootloader's end record)
// is carried out once the host has read what came before it, as its
// restart thread would do, and the board's clock is the harness's: a
// report comes 1 ms after the one before, or 30 ms when bit 1 of the first
// byte is set (past the gap after which a partial frame is given up), so
// each input runs the same way every time.
#include <cstdint>
#include <cstring>

#include "sim/SimBoard.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  auto now = std::chrono::steady_clock::time_point{};
  const auto step = std::chrono::milliseconds((data[0] & 2) ? 30 : 1);
  sim::SimBoard board(sim::SimConfig{.restartThread = false, .clock = [&now] { return now; }});
  if (data[0] & 1) board.RestartIntoBootloader();
  sim::Report report;
  for (std::size_t off = 1; off < size; off += 64) {
    report.fill(0xFF);
    std::memcpy(report.data(), data + off, std::min<std::size_t>(64, size - off));
    now += step;
    board.HostWrite(report);
    sim::Report out;
    while (board.HostRead(out, std::chrono::milliseconds(0)) == 1) {
    }
    board.RunScheduledRestart();
  }
  return 0;
}
