// corvelctl blink and fade: the same chains as the window's pages, run on the
// simulated board, and the arguments refused before anything is sent.
#include <gtest/gtest.h>

#include "chip/EffectBlock.h"
#include "support/ChipRun.h"

using Bytes = std::vector<std::uint8_t>;
using Write = std::pair<int, Bytes>;

TEST(EffectCommandsTest, BlinkWritesTheTimesRunsTheChainAndUploadsTheEffect) {
  auto r = RunOnChip({"--sim=3", "blink", "--ramp-on", "315ms", "--ramp-off", "1260ms", "--keep-on=5040ms",
                      "--keep-off", "630"});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  EXPECT_EQ(r.result.out,
            "Blink mode is running: ramp on 315 ms, ramp off 1260 ms, keep on 5040 ms, keep off 630 ms.\n");
  EXPECT_EQ(r.writes, (std::vector<Write>{{0x15, {0x19}}, {0x16, {0x15}}, {0x14, {0xFF}}, {0x04, {0x03, 0x0F}}, {0x11, {0x80}}}));
  EXPECT_EQ(r.reg[0x11], 0x80);
  // The effect data for the ten LEDs of board 3, after the chain.
  ASSERT_FALSE(r.delivered.empty());
  const auto& last = r.delivered.back();
  EXPECT_EQ(last.cls, 64);
  EXPECT_EQ(last.cmd, 1);
  // Board kind 5: by the time an effect starts, a chip board has been chosen.
  Bytes upload{5, 2, 60, 0};
  const Bytes block = chip::EffectDataBlock(10);
  upload.insert(upload.end(), block.begin(), block.end());
  EXPECT_EQ(last.payload, upload);

  // --reset first, so that blink may start again.
  r = RunOnChip({"--sim", "--json", "blink", "--reset", "--ramp-on", "630", "--ramp-off", "630", "--keep-on", "630",
                 "--keep-off", "630"});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  EXPECT_EQ(r.writes.front(), (Write{0x7F, {0x00}}));
  EXPECT_EQ(r.result.out,
            "{\"effect\":\"blink\",\"ramp_on_ms\":630,\"ramp_off_ms\":630,\"keep_on_ms\":630,\"keep_off_ms\":630}\n");
}

TEST(EffectCommandsTest, FadeOnAndOff) {
  struct Case {
    const char* direction;
    Bytes levels;
  };
  for (const Case& c : {Case{"on", {0x03, 0x0F}}, Case{"off", {0x00, 0x00}}}) {
    auto r = RunOnChip({"--sim", "fade", c.direction, "--ramp-on", "2520ms", "--ramp-off", "315ms"});
    ASSERT_EQ(r.result.rc, 0) << r.result.err;
    EXPECT_EQ(r.writes, (std::vector<Write>{{0x15, {0x0C}}, {0x14, {0xFF}}, {0x04, {0x00, 0x00}}, {0x11, {0x7F}}, {0x02, c.levels}}))
        << c.direction;
    EXPECT_EQ(r.reg[0x02], c.levels[0]);
    EXPECT_EQ(r.reg[0x03], c.levels[1]);
  }
}

TEST(EffectCommandsTest, ArgumentsAreCheckedBeforeAnythingIsSent) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--sim", "blink", "--ramp-on", "315ms", "--ramp-off", "0ms", "--keep-on", "315", "--keep-off", "315"},
       "Please ensure that all time parameters are not 0ms !"},
      {{"--sim", "fade", "on", "--ramp-on", "0", "--ramp-off", "315"}, "Please ensure that all time parameters are not 0ms !"},
      {{"--sim", "blink", "--ramp-on", "315"}, "blink needs --ramp-off, --keep-on, --keep-off"},
      {{"--sim", "blink", "--ramp-on", "300ms"}, "--ramp-on must be one of 315ms, 630ms, 1260ms, 2520ms, 5040ms, not '300ms'"},
      {{"--sim", "blink", "--ramp-on"}, "--ramp-on needs a time"},
      {{"--sim", "fade"}, "usage: fade on|off"},
      {{"--sim", "fade", "up", "--ramp-on", "315", "--ramp-off", "315"}, "usage: fade on|off"},
      {{"--sim", "fade", "on", "--keep-on", "315"}, "unknown option '--keep-on' for fade"},
      {{"--sim", "fade", "on", "--reset"}, "unknown option '--reset' for fade"},
      {{"--sim", "blink", "now"}, "unexpected argument 'now' for blink"},
      {{"--sim", "blink", "--ramp-on", "315ms", "--ramp-on", "630ms", "--ramp-off", "315", "--keep-on", "315",
        "--keep-off", "315"},
       "--ramp-on is given twice"},
      {{"--sim", "fade", "off", "--ramp-off=315", "--ramp-on", "315", "--ramp-off", "315"}, "--ramp-off is given twice"},
  };
  for (const Case& c : cases) {
    const auto r = RunOnChip(c.args);
    EXPECT_EQ(r.result.rc, 2) << c.message;
    EXPECT_NE(r.result.err.find(c.message), std::string::npos) << r.result.err;
    EXPECT_TRUE(r.delivered.empty()) << c.message;
  }
}

namespace {

// Byte 2 of the I2C record in a class-16 frame's payload: the first register
// (report byte 0 is the report id, the payload starts at frame byte 18).
int FirstRegister(const std::uint8_t* report) { return report[1 + 18 + 2]; }
// Byte 1 of the chip block header of a (64, 1): 2 for effect data.
int BlockMode(const std::uint8_t* report) { return report[1 + 18 + 1]; }

const std::vector<std::string> kBlink{"--sim", "blink", "--ramp-on", "315", "--ramp-off", "315", "--keep-on", "315",
                                      "--keep-off", "315"};

}  // namespace

TEST(EffectCommandsTest, AChainStepOrUploadWhoseAnswerIsLostIsAskedAgain) {
  struct Case {
    const char* what;
    std::function<bool(const std::uint8_t*)> matches;
  };
  const Case cases[] = {
      {"effect start", [](const std::uint8_t* r) { return Carries(r, 16, 3) && FirstRegister(r) == 0x14; }},
      {"direction", [](const std::uint8_t* r) { return Carries(r, 16, 3) && FirstRegister(r) == 0x04; }},
      {"read of 0x11", [](const std::uint8_t* r) { return Carries(r, 16, 1) && FirstRegister(r) == 0x11; }},
      {"write of 0x11", [](const std::uint8_t* r) { return Carries(r, 16, 3) && FirstRegister(r) == 0x11; }},
      {"effect data", [](const std::uint8_t* r) { return Carries(r, 64, 1) && BlockMode(r) == 2; }},
  };
  for (const Case& c : cases) {
    HookedRun run;
    int sent = 0;
    const auto lose = LoseAnswers(c.matches, 1);
    run.tap = [&](Session& s, const std::uint8_t* report) {
      if (c.matches(report)) ++sent;
      lose(s, report);
    };
    const auto r = run(kBlink);
    EXPECT_EQ(r.rc, 0) << c.what << ": " << r.err;
    EXPECT_NE(r.out.find("Blink mode is running"), std::string::npos) << c.what;
    EXPECT_EQ(sent, 3) << c.what << ": sent, sent again by the engine, asked again";
    EXPECT_EQ(run.recoveries, 0) << c.what;
  }
  // Fade's last step too.
  HookedRun run;
  run.tap = LoseAnswers([](const std::uint8_t* r) { return Carries(r, 16, 3) && FirstRegister(r) == 0x02; }, 1);
  const auto r = run({"--sim", "fade", "on", "--ramp-on", "315", "--ramp-off", "315"});
  EXPECT_EQ(r.rc, 0) << r.err;
}

TEST(EffectCommandsTest, AFailedStepIsReportedAsTheStepItWas) {
  // The board's failure reply (16, 48) to the chain's read of 0x11, and to
  // its write of 0x04 (as a board sends it when the chip does not answer).
  struct Case {
    std::function<void(Session&, const std::uint8_t*)> tap;
    const char* says;
  };
  const Case cases[] = {
      {[](Session& s, const std::uint8_t* r) {
         if (Carries(r, 16, 1)) s.Sim()->SetFaults({.failRegisterRead = true});
       },
       "while waiting for the value of register 0x11"},
      {[](Session& s, const std::uint8_t* r) {
         if (Carries(r, 16, 3) && FirstRegister(r) == 0x04)
           s.Sim()->SendFrame(4, 16, 48, std::vector<std::uint8_t>{1, 0x5B, 0x04, 2, 4, 0}, 4000);
       },
       "while waiting for the acknowledgement of register 0x04"},
  };
  for (const Case& c : cases) {
    HookedRun run;
    run.tap = c.tap;
    const auto r = run({"--sim", "fade", "on", "--ramp-on", "315", "--ramp-off", "315"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("failure reply (16, 48)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}
