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
  Bytes upload{4, 2, 60, 0};
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
  };
  for (const Case& c : cases) {
    const auto r = RunOnChip(c.args);
    EXPECT_EQ(r.result.rc, 2) << c.message;
    EXPECT_NE(r.result.err.find(c.message), std::string::npos) << r.result.err;
    EXPECT_TRUE(r.delivered.empty()) << c.message;
  }
}

TEST(EffectCommandsTest, AChainTheBoardCannotFinishFailsWithWhatHappened) {
  // The board cannot read the chip: the chain stops at its read of 0x11.
  cli::SetSessionHooks({[](Session& s) {
                          sim::SimFaults f;
                          f.failRegisterRead = true;
                          s.Sim()->SetFaults(f);
                        },
                        nullptr});
  auto r = Ctl({"--sim", "fade", "on", "--ramp-on", "315", "--ramp-off", "315"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("could not read register 0x11"), std::string::npos) << r.err;

  cli::SetSessionHooks({});
}
