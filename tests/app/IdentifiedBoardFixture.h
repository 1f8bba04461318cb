// The whole program on a simulated board that has been identified: the LED
// board page may write to the chip, and the test looks at what the board
// carried out.
#pragma once

#include <utility>
#include <vector>

#include "support/BoardRecord.h"
#include "tests/app/AppFixture.h"

class IdentifiedBoardFixture : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    window->show();
    ASSERT_TRUE(PumpUntil([] { return g_bBoardMatched == 1; }));
    // The first brightness write after the match comes with a tick of the
    // page's timer: wait until the board has carried it out (not for a fixed
    // time, which a busy machine outlasts), so it cannot land in a test's own
    // record.
    PumpUntil([this] { return boardrecord::WroteTo(board(), 0x20); }, 3000);
    board().ClearDelivered();
  }
  sim::SimBoard& board() { return *app->SimulatedBoard(); }

  // What the board carried out of one kind since the last look.
  std::vector<sim::DeliveredCommand> Carried(std::uint8_t cls, std::uint8_t cmd) {
    return boardrecord::Carried(board(), cls, cmd);
  }
  // The register writes carried out since the last look: (first register, data).
  using RegisterWrite = boardrecord::RegisterWrite;
  std::vector<RegisterWrite> RegisterWrites() { return boardrecord::RegisterWrites(board()); }
  // Waits until register `reg` of the simulated chip holds `value`.
  bool RegisterBecomes(std::uint8_t reg, std::uint8_t value, int timeoutMs = 2000) {
    return PumpUntil([&] { return board().Register(reg) == value; }, timeoutMs);
  }
  // Waits until the board has carried out a write of `data` from `reg`.
  bool Wrote(std::uint8_t reg, const std::vector<std::uint8_t>& data, int timeoutMs = 2000) {
    return PumpUntil([&] { return boardrecord::WroteTo(board(), reg, &data); }, timeoutMs);
  }
};
