// Arbitrary reports into the simulated board, in both of its modes: it must
// never crash, whatever a host sends.
#include <cstdint>
#include <cstring>

#include "sim/SimBoard.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  sim::SimBoard board;
  if (data[0] & 1) board.RestartIntoBootloader();
  sim::Report report;
  for (std::size_t off = 1; off < size; off += 64) {
    report.fill(0xFF);
    std::memcpy(report.data(), data + off, std::min<std::size_t>(64, size - off));
    board.HostWrite(report);
    sim::Report out;
    while (board.HostRead(out, std::chrono::milliseconds(0)) == 1) {
    }
  }
  return 0;
}
