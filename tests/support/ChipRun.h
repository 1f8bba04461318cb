// Runs corvelctl in-process on the simulated board and keeps what the
// simulated chip holds when the session closes: its registers, its pins, and
// every command (register writes among them) the board carried out.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "corvel/Session.h"
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

// The 65-byte report carries a frame whose class and command are these (the
// first report of a data frame: magic, then the header).
inline bool Carries(const std::uint8_t* report, std::uint8_t cls, std::uint8_t cmd) {
  return report[1] == 0x5A && report[2] == 0x5A && report[8] == 0x00 && report[14] == cls && report[15] == cmd;
}

// Runs corvelctl with hooks on its one session: `tap` sees every report the
// host writes (before the board gets it), with the session at hand.
struct HookedRun {
  std::function<void(Session&, const std::uint8_t* report)> tap;
  int recoveries = -1;

  CliResult operator()(std::vector<std::string> args) {
    cli::SetSessionHooks({[this](Session& s) {
                            Session* session = &s;
                            s.Communication().Hid()->SetReportTap(
                                [this, session](bool out, const std::uint8_t* report, std::size_t) {
                                  if (out && tap) tap(*session, report);
                                });
                          },
                          [this](Session& s) { recoveries = s.Recoveries(); }});
    CliResult r = Ctl(std::move(args));
    cli::SetSessionHooks({});
    return r;
  }
};


// A tap for HookedRun that loses the board's answer to the first `times`
// frames that `matches` picks: every frame from the board is lost while such
// a frame goes out the first time (its ACK and its answer), and its
// retransmission is acknowledged but, being the same frame, not carried out
// again. Only asking again brings an answer.
inline std::function<void(Session&, const std::uint8_t*)> LoseAnswers(std::function<bool(const std::uint8_t*)> matches,
                                                                      int times) {
  auto losing = std::make_shared<bool>(false);
  auto left = std::make_shared<int>(times);
  return [=](Session& s, const std::uint8_t* report) {
    if (!matches(report)) return;
    if (*losing) {
      *losing = false;
      s.Sim()->SetFaults({});
    } else if (*left > 0) {
      --*left;
      *losing = true;
      s.Sim()->SetFaults({.dropToHostPpm = 1'000'000});
    }
  };
}
