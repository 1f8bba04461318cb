#include <gtest/gtest.h>

#include <functional>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>

#include "corvel/Session.h"
#include "support/ChipRun.h"


TEST(CliTest, InfoIdentifiesTheSimulatedBoard) {
  auto r = Ctl({"--sim", "info"});
  EXPECT_EQ(r.rc, 0) << r.err;
  // Where identification ended, not the handshake's "chip not connected".
  EXPECT_NE(r.out.find("Link:          Chip connected successfully!\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Board id:      1 (QV6033)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Mcu code version:V1.3.0"), std::string::npos) << r.out;

  r = Ctl({"--sim=3", "--json", "info"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("\"link_text\":\"Chip connected successfully!\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"board_id\":3,\"chip_board\":\"QV6032\""), std::string::npos) << r.out;

  r = Ctl({"--sim=2", "info"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.out.find("Link:          Board found, but its id names no known chip board.\n"), std::string::npos)
      << r.out;
}

TEST(CliTest, RegisterWriteIsReadBackOnOneConnection) {
  auto r = Ctl({"--sim", "batch", "reg write 0x20 0x10 0x20", "reg read 0x20 2"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("0x20: 0x10\n0x21: 0x20\n"), std::string::npos) << r.out;

  r = Ctl({"--sim", "--json", "batch", "reg write 0x2E 7", "reg read 0x2E 2"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("{\"register\":46,\"values\":[7,0]}"), std::string::npos) << r.out;
}

TEST(CliTest, TraceShowsReportsAndDecodedFrames) {
  auto r = Ctl({"--sim", "--trace", "reg", "read", "0x00"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.err.find("> 00 5A 5A 41 00 0D 00 00 00 00 00"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("DATA seq=0 addr=41 (1,1) payload=0 checksum ok"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("ACK seq=0 addr=14"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("(16,2) payload=7 checksum ok"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "0x00: 0xFF\n");
}

TEST(CliTest, UnknownBoardIsRefusedRegisterAccess) {
  auto r = Ctl({"--sim=2", "reg", "read", "0x20"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("names no known chip board"), std::string::npos) << r.err;
}

TEST(CliTest, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frob"},
      {"--bogus", "info"},
      {"--timeout"},
      {"--timeout", "soon", "info"},
      {"--sim", "reg", "read", "0x100"},
      {"--sim", "reg", "read", "-0"},
      {"--sim", "reg", "read", "0x-0"},
      {"--sim", "reg", "write", "0x20", "-1"},
      {"--sim", "reg", "read", "0xFF", "2"},
      {"--sim", "reg", "write", "0x20"},
      {"--sim", "reg", "write", "0x20", "256"},
      {"--sim", "reg", "peek", "0x20"},
      {"--sim", "address", "0x57"},
      {"--sim", "info", "extra"},
      {"--sim", "batch"},
      {"--sim", "batch", ""},
      {"--sim", "batch", "   "},
      {"--sim", "batch", "reg read 0x20", " "},
      {"--sim", "--sim-faults", "drop=50,drop=0", "info"},
      {"--sim", "--sim-faults", "drop=50", "--sim-faults", "nak=1,drop=0", "info"},
      {"--sim-seed", "2", "info"},
      {"--sim-latency", "5", "info"},
      {"--sim", "--sim-latency", "soon", "info"},
      {"--sim", "--sim-latency", "500", "info"},
      {"--sim", "--sim-faults", "drop=200", "info"},
      {"--sim", "--sim-faults", "lose=2", "info"},
      // Two ways of naming one board.
      {"--sim=1,3", "--serial", "QVSIM0002", "--device", "sim:lamp-board/1", "info"},
      // An option given twice: which value was meant is not for us to guess.
      {"--sim", "--sim-seed", "2", "--sim-seed", "3", "info"},
      {"--sim", "--address", "0x58", "--address=0x59", "info"},
      {"--sim", "--log", "a.csv", "--log", "b.csv", "info"},
      {"--sim", "--sim=3", "info"},
      {"--sim", "--timeout", "100", "--timeout", "200", "info"},
      {"--sim", "--trace", "--trace", "info"},
      {"--version", "extra"},
      {"export", "x.json", "--c", "-o", "a.h", "--output=b.h"},
      {"--sim", "blink", "--reset", "--reset", "--ramp-on", "315", "--ramp-off", "315", "--keep-on", "315", "--keep-off",
       "315"},
      // The chip starts blink again only after a reset (the help says so).
      {"--sim", "batch", "blink --ramp-on 315 --ramp-off 315 --keep-on 315 --keep-off 315",
       "blink --ramp-on 630 --ramp-off 630 --keep-on 630 --keep-off 630"},
  };
  for (const auto& args : cases) {
    auto r = Ctl(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.rc, 2) << joined;
    EXPECT_NE(r.err.find("Try 'corvelctl --help'."), std::string::npos) << joined;
    EXPECT_TRUE(r.out.empty()) << joined;
  }
  EXPECT_FALSE(std::filesystem::exists("a.csv") || std::filesystem::exists("b.csv"));
  // Each option's refusal names it.
  auto r = Ctl({"--sim", "--sim-seed=2", "--sim-seed", "3", "info"});
  EXPECT_NE(r.err.find("--sim-seed is given twice"), std::string::npos) << r.err;
  r = Ctl({"--sim", "--sim-latency=600", "info"});
  EXPECT_NE(r.err.find("--sim-latency must stay below 500 ms"), std::string::npos) << r.err;
  r = Ctl({"--sim", "--serial", "QVSIM0001", "--device", "sim:lamp-board", "info"});
  EXPECT_NE(r.err.find("--device and --serial exclude each other"), std::string::npos) << r.err;
  // With a reset between them, two blinks are fine.
  r = Ctl({"--sim", "batch", "blink --ramp-on 315 --ramp-off 315 --keep-on 315 --keep-off 315",
           "blink --reset --ramp-on 630 --ramp-off 630 --keep-on 630 --keep-off 630"});
  EXPECT_EQ(r.rc, 0) << r.err;
}

TEST(CliTest, HelpForTheToolAndEachCommand) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"reg", "--help"}, {"list", "-h"}}) {
    auto r = Ctl(args);
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("Usage: corvelctl"), std::string::npos);
  }
}

TEST(CliTest, NoBoardIsAFailureWithAHint) {
  auto r = Ctl({"--timeout", "200", "info"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("No lamp board found"), std::string::npos) << r.err;
  r = Ctl({"--timeout", "200", "wait"});
  EXPECT_EQ(r.rc, 1);
  // Listing nothing is still a listing: empty, with a note beside it.
  r = Ctl({"list"});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "No lamp board attached.\n");
  r = Ctl({"--json", "list"});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, "[]\n");
}

TEST(CliTest, ListAndAddressOnTheSimulatedBoard) {
  auto r = Ctl({"--sim", "list"});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out, "sim:lamp-board  serial QVSIM0001  release 0x1000  application\n");
  r = Ctl({"--sim", "address", "0x59"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "√ Lamp set IIC address successfully!\n");
}

TEST(CliTest, ABoardThatStopsAnsweringIsReconnectedAndTheCommandGoesThrough) {
  // Every frame from the board is lost from the first register write on, so
  // the write goes unacknowledged through all its sends; the reconnect's
  // handshake finds the board answering again.
  bool failing = false;
  HookedRun run;
  run.tap = [&](Session& s, const std::uint8_t* report) {
    if (Carries(report, 16, 3) && !failing && run.recoveries < 0) {
      failing = true;
      sim::SimFaults lost;
      lost.dropToHostPpm = 1'000'000;
      s.Sim()->SetFaults(lost);
    } else if (Carries(report, 1, 1) && failing) {
      failing = false;
      s.Sim()->SetFaults({});
      run.recoveries = 0;  // once only
    }
  };
  const auto r = run({"--sim", "batch", "reg write 0x20 0x5A", "reg read 0x20"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "Wrote 1 byte from register 0x20.\n0x20: 0x5A\n");
  EXPECT_EQ(run.recoveries, 1);
}

TEST(CliTest, AnAnswerLostAfterItsAckIsAskedForAgain) {
  // The read's ACK and answer are lost; its retransmission is acknowledged
  // but, being the same frame, not carried out again: no answer comes, and
  // the read is asked once more.
  int reads = 0;
  HookedRun run;
  run.tap = [&](Session& s, const std::uint8_t* report) {
    if (!Carries(report, 16, 1)) return;
    ++reads;
    sim::SimFaults faults;
    if (reads == 1) faults.dropToHostPpm = 1'000'000;
    s.Sim()->SetFaults(faults);
  };
  const auto r = run({"--sim", "reg", "read", "0x7F"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "0x7F: 0x00\n");
  EXPECT_EQ(reads, 3);
  EXPECT_EQ(run.recoveries, 0);
}

TEST(CliTest, AHandshakeWhoseAnswerIsLostIsAskedAgain) {
  // The board acknowledges the handshake but its answer is lost. With half
  // the board's frames lost, the seed is one whose first draw spares the
  // ACK and whose second loses the answer (the board draws once for each
  // frame it sends, and not at all while no fault is set).
  std::uint32_t seed = 1;
  for (;; ++seed) {
    std::mt19937 draws(seed);
    const auto ack = draws() % 1'000'000, answer = draws() % 1'000'000;
    if (ack >= 500'000 && answer < 500'000) break;
  }
  HookedRun run;
  int handshakes = 0;
  run.tap = [&](Session& s, const std::uint8_t* report) {
    if (!Carries(report, 1, 1)) return;
    sim::SimFaults faults;
    if (++handshakes == 1) faults.dropToHostPpm = 500'000;
    s.Sim()->SetFaults(faults);
  };
  const auto r = run({"--sim", "--sim-seed", std::to_string(seed), "info"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(handshakes, 2) << "acknowledged and lost, then asked again";
  EXPECT_EQ(run.recoveries, 0);
}

TEST(CliTest, EveryStepOfTheConnectAsksAgainForALostAnswer) {
  // The chip address, board query and version query each lose their first
  // answer after the board took them: each is asked again, without
  // reconnecting.
  const std::pair<int, int> steps[] = {{64, 10}, {64, 1}, {1, 32}};
  for (const auto& [cls, cmd] : steps) {
    HookedRun run;
    int sent = 0;
    const auto lose = LoseAnswers([&, cls, cmd](const std::uint8_t* r) { return Carries(r, cls, cmd); }, 1);
    run.tap = [&, cls, cmd](Session& s, const std::uint8_t* report) {
      if (Carries(report, cls, cmd)) ++sent;
      lose(s, report);
    };
    const auto r = run({"--sim", "info"});
    EXPECT_EQ(r.rc, 0) << cls << "," << cmd << ": " << r.err;
    EXPECT_NE(r.out.find("Chip connected successfully!"), std::string::npos) << r.out;
    EXPECT_EQ(sent, 3) << "sent, sent again by the engine, asked again: (" << cls << "," << cmd << ")";
    EXPECT_EQ(run.recoveries, 0);
  }
}

// A board that answers some steps of the connect sequence and never one of
// them: each link asks that step again until its asks run out, then the link
// is reset and reconnected, and after the bounded number of recoveries the
// command gives up with the one piece of advice. The steps after the one
// that goes unanswered are never sent: each waits for the one before.
TEST(CliTest, AConnectStepWhoseAnswerIsAlwaysLostIsGivenUpAfterTheRecoveries) {
  const struct {
    std::uint8_t cls, cmd, answer;
  } steps[] = {{1, 1, 2}, {64, 10, 11}, {64, 1, 2}, {1, 32, 33}};
  for (std::size_t k = 0; k < std::size(steps); ++k) {
    const auto& step = steps[k];
    SCOPED_TRACE(std::to_string(step.cls) + "," + std::to_string(step.cmd));
    HookedRun run;
    std::map<std::pair<int, int>, int> sent;
    run.tap = [&](Session& s, const std::uint8_t* report) {
      for (const auto& other : steps)
        if (Carries(report, other.cls, other.cmd)) ++sent[{other.cls, other.cmd}];
      sim::SimFaults faults;
      faults.loseAnswers = {step.cls, step.answer, 1'000'000};
      s.Sim()->SetFaults(faults);
    };
    const auto r = run({"--sim", "info"});
    EXPECT_EQ(r.rc, 1);
    const std::string advice = "Re-plug it and try again.";
    const auto at = r.err.find(advice);
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("try again", at + advice.size()), std::string::npos) << r.err;
    EXPECT_EQ(run.recoveries, Session::kMaxRecoveries);
    EXPECT_EQ((sent[{step.cls, step.cmd}]), (Session::kMaxRecoveries + 1) * Session::kConnectAsks);
    for (std::size_t later = k + 1; later < std::size(steps); ++later)
      EXPECT_EQ((sent[{steps[later].cls, steps[later].cmd}]), 0) << "sent before the step before it was answered";
  }
}

TEST(CliTest, AnswersLostAgainAndAgainLeadToAReconnectNotAFailure) {
  // Every board query's answer is lost until the link is set up anew.
  HookedRun run;
  bool reconnected = false;
  int queries = 0;
  const auto lose = LoseAnswers([&](const std::uint8_t* r) { return !reconnected && Carries(r, 64, 1); }, 1000);
  run.tap = [&](Session& s, const std::uint8_t* report) {
    if (Carries(report, 64, 1)) ++queries;
    if (queries > 0 && Carries(report, 1, 1)) {
      reconnected = true;
      s.Sim()->SetFaults({});
    }
    lose(s, report);
  };
  const auto r = run({"--sim", "info"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("Board id:      1 (QV6033)"), std::string::npos) << r.out;
  EXPECT_EQ(run.recoveries, 1);
  EXPECT_EQ(queries, 2 * Session::kConnectAsks + 1) << "each sent twice, then once on the new link";
}

TEST(CliTest, ABoardThatFallsSilentIsGivenUpWithItsAdviceOnce) {
  // Silent from the start, and silent from the first register write on
  // (then every reconnect's handshake goes unanswered too).
  for (const bool fromStart : {true, false}) {
    HookedRun run;
    run.tap = [&](Session& s, const std::uint8_t* report) {
      if (fromStart ? Carries(report, 1, 1) : Carries(report, 16, 3)) s.Sim()->SetFaults({.silent = true});
    };
    const auto r = run({"--sim", "reg", "write", "0x20", "1"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find(fromStart ? "The board does not answer the handshake" : "the board does not answer"),
              std::string::npos)
        << r.err;
    const auto advice = r.err.find("try again");
    ASSERT_NE(advice, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("try again", advice + 1), std::string::npos) << r.err;
    EXPECT_EQ(run.recoveries, Session::kMaxRecoveries) << fromStart;
  }
}

TEST(CliTest, AProtocolEventDuringAWaitIsNotALostLink) {
  // The board reports (1, 8) (link state 1) just before it answers.
  HookedRun run;
  run.tap = [&](Session& s, const std::uint8_t* report) {
    if (Carries(report, 16, 1)) s.Sim()->SendFrame(4, 1, 8, {}, 4000);
  };
  const auto r = run({"--sim", "reg", "read", "0x00"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "0x00: 0xFF\n");
}

TEST(CliTest, HundredsOfRegisterCommandsOverALossyLinkReadBackWhatWasWritten) {
  std::vector<std::string> args{"--sim", "--sim-faults", "drop=2,corrupt=2", "batch"};
  for (int i = 0; i < 200; ++i) {
    char write[48], read[24];
    const int reg = 0x20 + i % 16;
    std::snprintf(write, sizeof write, "reg write 0x%02X 0x%02X", reg, (i * 37 + 11) & 0xFF);
    std::snprintf(read, sizeof read, "reg read 0x%02X", reg);
    args.push_back(write);
    args.push_back(read);
  }
  const auto r = Ctl(args);
  ASSERT_EQ(r.rc, 0) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  for (int i = 0; i < 200; ++i) {
    char wrote[48], value[24];
    std::snprintf(wrote, sizeof wrote, "Wrote 1 byte from register 0x%02X.", 0x20 + i % 16);
    std::snprintf(value, sizeof value, "0x%02X: 0x%02X", 0x20 + i % 16, (i * 37 + 11) & 0xFF);
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, wrote);
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, value) << "step " << i;
  }
}

TEST(CliTest, AddressRangesAreNamedInHex) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"--sim", "address", "0x57"},
                                                                 {"--address", "92", "info"}}) {
    const auto r = Ctl(args);
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("must be a number from 0x58 to 0x5B"), std::string::npos) << r.err;
  }
}

TEST(CliTest, TheSimulatedChipAnswersOnlyAtItsOwnAddress) {
  struct Case {
    std::vector<std::string> args;
    int rc;
    const char* says;  // in the output, or for a failure in the error text
  };
  const Case cases[] = {
      {{"--sim", "--address", "0x58", "batch", "reg write 0x20 0x10", "reg read 0x20"},
       1,
       "No answer from the chip at 0x58, the address the program sent (writing register 0x20). The chip address "
       "may be wrong (check it), or the chip may lack power or be badly connected."},
      {{"--sim", "--sim-chip-address", "0x59", "reg", "read", "0x20"},
       1,
       "No answer from the chip at 0x5B, the address the program sent (reading register 0x20). The chip address "
       "may be wrong (check it), or the chip may lack power or be badly connected."},
      {{"--sim", "--sim-chip-address=0x59", "--address", "0x59", "batch", "reg write 0x20 0x10", "reg read 0x20"},
       0,
       "0x20: 0x10\n"},
      {{"--sim", "--sim-chip-address", "0x5C", "info"}, 2, "--sim-chip-address takes an I2C address from 0x58 to 0x5B"},
      {{"--sim-chip-address", "0x59", "info"}, 2, "need --sim"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const auto r = Ctl(c.args);
    EXPECT_EQ(r.rc, c.rc) << r.err;
    EXPECT_NE((c.rc == 0 ? r.out : r.err).find(c.says), std::string::npos) << r.out << r.err;
  }
}

TEST(CliTest, InfoFailsWhenTheBoardRefusesTheChipAddress) {
  cli::SetSessionHooks({[](Session& s) { s.Sim()->SetFaults({.refuseAddress = true}); }, {}});
  const auto r = Ctl({"--sim", "info"});
  cli::SetSessionHooks({});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.out.find("Board id:      1 (QV6033)"), std::string::npos) << "the rest is still shown: " << r.out;
  EXPECT_NE(r.err.find("the board refused chip address 0x5B: × Lamp set IIC address failed!"), std::string::npos)
      << r.err;
}

TEST(CliTest, BatchChecksEveryStepBeforeItSendsAnything) {
  int sessions = 0;
  cli::SetSessionHooks({[&](Session&) { ++sessions; }, {}});
  for (const auto& bad : std::vector<std::string>{"reg read 0x100", "reg frob", "address 0x60", "image make x",
                                                  "frob", "flash"}) {
    const auto r = Ctl({"--sim", "batch", "reg write 0x20 0x11", "reg read 0x20", bad});
    EXPECT_EQ(r.rc, 2) << bad;
    EXPECT_EQ(r.out, "") << bad;
    EXPECT_NE(r.err.find("Try 'corvelctl --help'."), std::string::npos) << bad;
  }
  EXPECT_EQ(sessions, 0) << "no board was opened";
  // Help in a step is shown once, when the step's turn comes.
  const auto r = Ctl({"--sim", "batch", "reg --help", "list"});
  cli::SetSessionHooks({});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.out.find("Usage: corvelctl reg"), r.out.rfind("Usage: corvelctl reg")) << r.out;
  EXPECT_NE(r.out.find("sim:lamp-board"), std::string::npos) << r.out;
}

// A board that went under the command is a lost link, never a board that
// was not found: re-plugged between two commands (it is not used blindly, it
// may be another), or unplugged with its removal announced or not yet (a read
// fails first, as with a real node torn away).
TEST(CliTest, ABoardThatWentUnderTheCommandIsALostLinkHoweverItsGoingIsSeen) {
  enum class Going { kReplugged, kUnplugged, kUnpluggedUnannounced };
  for (const Going going : {Going::kReplugged, Going::kUnplugged, Going::kUnpluggedUnannounced}) {
    SCOPED_TRACE(static_cast<int>(going));
    SessionOptions options;
    options.sim = true;
    options.simFaults = {};
    Session session(options);
    BoardInfo info;
    std::string error;
    ASSERT_TRUE(session.Identify(info, error)) << error;
    ASSERT_TRUE(session.WriteRegisters(0x20, std::vector<std::uint8_t>{0x42}, error)) << error;
    if (going == Going::kUnpluggedUnannounced) session.Sim()->SetDeviceEventListener(nullptr);
    session.Sim()->Unplug();
    if (going == Going::kReplugged) session.Sim()->Plug();
    std::vector<std::uint8_t> values;
    EXPECT_FALSE(session.ReadRegisters(0x20, 1, values, error));
    EXPECT_NE(error.find("Link lost during the register read: USB Hid device not found!"), std::string::npos)
        << error;
  }
}

// A board left in its bootloader by an update that stopped is attached and
// answering: it is named as such, with how to finish the update.
TEST(CliTest, ABoardInItsBootloaderIsNamedAsSuchWithHowToFinishTheUpdate) {
  cli::SetSessionHooks({[](Session& s) { s.Sim()->RestartIntoBootloader(); }, {}});
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"info"}, {"reg", "read", "0x20"}, {"address", "0x59"}}) {
    std::vector<std::string> args{"--sim"};
    args.insert(args.end(), command.begin(), command.end());
    const auto r = Ctl(args);
    EXPECT_EQ(r.rc, 1) << command[0];
    EXPECT_NE(r.err.find("The lamp board QVSIM0001 (sim:lamp-board) is in its bootloader"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("'corvelctl flash FILE' finishes it"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("No lamp board found"), std::string::npos) << r.err;
  }
  const auto r = Ctl({"--sim", "wait"});
  cli::SetSessionHooks({});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "Lamp board attached: sim:lamp-board (in its bootloader: an update did not finish; 'corvelctl flash "
                   "FILE' finishes it)\n");
}

namespace {
std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace

TEST(CliTest, LogWritesEveryFrameAsCsvWithTheTraceDecoder) {
  const std::string path = ::testing::TempDir() + "corvelctl-log.csv";
  auto r = Ctl({"--sim", "--trace", "--log", path, "batch", "reg write 0x20 1 2", "reg read 0x20 2"});
  ASSERT_EQ(r.rc, 0) << r.err;
  const std::string csv = ReadFile(path);
  ASSERT_EQ(csv.rfind("Time,Direction,Kind,Sequence,Class,Command,Name,Payload length,Payload,Checksum,Meaning\r\n", 0),
            0u)
      << csv;
  // Every record ends in CRLF; no bare line feed anywhere.
  std::size_t lines = 0;
  for (std::size_t i = 0; i < csv.size(); ++i)
    if (csv[i] == '\n') {
      ASSERT_TRUE(i > 0 && csv[i - 1] == '\r') << "bare LF at " << i;
      ++lines;
    }
  EXPECT_GE(lines, 20u);
  const std::string rows[] = {
      ",out,DATA,0,1,1,handshake request,0,,ok,handshake request\r\n",
      ",in,DATA,0,1,2,handshake answer,4,5A 5A 00 01,ok,protocol matches\r\n",
      ",out,DATA,4,16,3,write registers,8,01 5B 20 02 04 00 01 02,ok,write 0x20\u20130x21: 2 bytes\r\n",
      ",in,ACK,4,,,,,,,frame 4 received\r\n",
      ",in,DATA,5,16,2,register data,8,01 5B 20 02 04 00 01 02,ok,data 0x20\u20130x21: 01 02\r\n",
  };
  for (const auto& row : rows) EXPECT_NE(csv.find(row), std::string::npos) << row << "\nin\n" << csv;
  // --trace names them the same way.
  EXPECT_NE(r.err.find("(16,3) payload=8 checksum ok  [write registers] write 0x20\u20130x21: 2 bytes"),
            std::string::npos)
      << r.err;

  r = Ctl({"--sim", "--log", ::testing::TempDir() + "no-such-dir/x.csv", "info"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("cannot write the log"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_EQ(Ctl({"--sim", "info", "--log"}).rc, 2);
  EXPECT_EQ(Ctl({"--sim", "--log"}).rc, 2);
}

TEST(CliTest, TheLogIsOpenedOnlyForAGoodCommandLineAndAppendedTo) {
  const std::string path = ::testing::TempDir() + "corvelctl-kept.csv";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << "someone's notes\n";
  for (const auto& args : std::vector<std::vector<std::string>>{{"current", "99"}, {"batch", "info", "led 300"}}) {
    std::vector<std::string> line{"--sim", "--log", path};
    line.insert(line.end(), args.begin(), args.end());
    EXPECT_EQ(Ctl(line).rc, 2);
    EXPECT_EQ(ReadFile(path), "someone's notes\n") << args[0];
  }
  // A good run adds its rows after what the file held, without a header.
  ASSERT_EQ(Ctl({"--sim", "--log", path, "reg", "read", "0x20"}).rc, 0);
  std::string csv = ReadFile(path);
  EXPECT_EQ(csv.rfind("someone's notes\n", 0), 0u) << csv;
  EXPECT_EQ(csv.find("Time,Direction"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",out,DATA,0,1,1,handshake request"), std::string::npos) << csv;

  // A new file gets the header once, however many runs it logs.
  std::filesystem::remove(path);
  ASSERT_EQ(Ctl({"--sim", "--log", path, "info"}).rc, 0);
  ASSERT_EQ(Ctl({"--sim", "--log", path, "info"}).rc, 0);
  csv = ReadFile(path);
  EXPECT_EQ(csv.rfind("Time,Direction", 0), 0u);
  EXPECT_EQ(csv.find("Time,Direction", 1), std::string::npos);
  const std::string handshake = ",out,DATA,0,1,1,handshake request";
  EXPECT_NE(csv.find(handshake), csv.rfind(handshake)) << "both runs are in it";

  // A file whose last line was left open keeps that line whole.
  std::ofstream(path, std::ios::binary | std::ios::trunc) << "no line end";
  ASSERT_EQ(Ctl({"--sim", "--log", path, "info"}).rc, 0);
  csv = ReadFile(path);
  EXPECT_EQ(csv.rfind("no line end\r\n", 0), 0u) << csv.substr(0, 40);
}
