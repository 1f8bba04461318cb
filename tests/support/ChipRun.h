// Runs corvelctl in-process on the simulated board and keeps what the
// simulated chip holds when the session closes: its registers, its pins, and
// every command (register writes among them) the board carried out.
#pragma once

#include <map>
#include <utility>
#include <vector>

#include "cli/Session.h"
#include "support/CliRun.h"

struct ChipRun {
  CliResult result;
  std::map<int, int> reg;
  std::vector<std::pair<int, std::vector<std::uint8_t>>> writes;  // first register, data
  sim::PinSnapshot pins;
  std::vector<sim::DeliveredCommand> delivered;                   // everything the board carried out
};

inline ChipRun RunOnChip(const std::vector<std::string>& args) {
  ChipRun run;
  cli::SetSessionHooks({nullptr, [&run](Session& s) {
                          if (!s.Sim()) return;
                          for (int r = 0; r < 0x80; ++r) run.reg[r] = s.Sim()->Register(static_cast<std::uint8_t>(r));
                          run.delivered = s.Sim()->Delivered();
                          for (const auto& d : run.delivered)
                            if (d.cls == 16 && d.cmd == 3 && d.payload.size() >= 6)
                              run.writes.emplace_back(d.payload[2],
                                                      std::vector<std::uint8_t>(d.payload.begin() + 6, d.payload.end()));
                          run.pins = s.Sim()->Pins();
                        }});
  run.result = Ctl(args);
  cli::SetSessionHooks({});
  return run;
}
