// corvelctl apply, export and batch --file against the simulated board: what
// reaches the chip, in which order, and that a refused file or script writes
// nothing at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "setup/Setup.h"
#include "setup/SetupWrites.h"
#include "support/ChipRun.h"

namespace {

using Writes = std::vector<std::pair<int, std::vector<std::uint8_t>>>;

class SetupCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("corvel-setup-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string File(const std::string& name, const std::string& text) {
    const auto path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  std::filesystem::path dir_;
};

constexpr const char* kSetup = R"({
  "format": "corvel-setup", "version": 1, "board": "QV6033", "board_id": 1,
  "i2c": {"address": "0x5A", "speed": "400K"},
  "pins": {"mode": "led"},
  "max_current_ma": 25, "driver": "push-pull",
  "brightness": [255, 200, 128, 128, 64, 16],
  "effect_times": {"ramp_on": "315ms", "ramp_off": "1260ms", "keep_on": "630ms", "keep_off": "5040ms"}
})";

TEST_F(SetupCommandsTest, ApplyWritesTheSetupInThePagesOrderAtItsAddress) {
  const auto file = File("bench.json", kSetup);
  auto r = RunOnChip({"--sim", "--sim-chip-address", "0x5A", "apply", file});  // the file's address
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  EXPECT_EQ(r.writes, (Writes{{0x12, {0, 0}},
                              {0x14, {0}},
                              {0x11, {0x11}},
                              {0x15, {0x19}},
                              {0x16, {0x2A}},
                              {0x14, {0}},
                              {0x20, {255, 200, 128, 128, 64, 16}}}));
  // Every write went to the address of the file, which the board was told first.
  for (const auto& d : r.delivered)
    if (d.cls == 16 && d.cmd == 3) EXPECT_EQ(d.payload[1], 0x5A);
  EXPECT_EQ(r.reg.at(0x25), 16);
  EXPECT_NE(r.result.out.find("  7  0x20 <- 0xFF 0xC8 0x80 0x80 0x40 0x10  brightness of LEDs 0..5"), std::string::npos)
      << r.result.out;

  // --dry-run: the same list, with no board at all.
  const auto dry = Ctl({"--device", "/nonexistent/hidraw", "apply", file, "--dry-run"});
  ASSERT_EQ(dry.rc, 0) << dry.err;
  EXPECT_EQ(dry.out.substr(0, dry.out.find('\n')),
            "Setup for the QV6033 (board 1), chip at 0x5A, bus 400K: 7 register writes it would make, in order:");
  EXPECT_NE(dry.out.find("  3  0x11 <- 0x11                  maximum current 25 mA, push-pull outputs\n"),
            std::string::npos)
      << dry.out;
  const auto json = Ctl({"--json", "apply", "--dry-run", file});
  EXPECT_NE(json.out.find("{\"register\":\"0x15\",\"data\":[\"0x19\"],\"what\":\"ramp on 315ms, ramp off 1260ms\"}"),
            std::string::npos)
      << json.out;
}

TEST_F(SetupCommandsTest, ARefusedFileWritesNothing) {
  struct Case {
    std::vector<std::string> args;
    std::string text;
    const char* says;
  };
  const std::string newer = R"({"format": "corvel-setup", "version": 3, "board_id": 1})";
  const Case cases[] = {
      {{"--sim"}, newer, "version: the file is of format version 3, newer than this program reads"},
      {{"--sim"}, R"({"format": "corvel-setup", "version": 1, "board_id": 1, "max_current_ma": 99})",
       "max_current_ma: 99 is out of range 0..40; nothing written"},
      {{"--sim"}, std::string(kSetup).substr(0, 60), "damaged: not valid JSON"},
      // The file's board is checked against the board attached before any write.
      {{"--sim=3"}, kSetup, "is for the QV6033 (board 1); the board attached is the QV6032 (board 3): nothing written"},
  };
  for (const Case& c : cases) {
    auto args = c.args;
    args.push_back("batch");
    args.push_back("reg write 0x20 7");
    args.push_back("apply " + File("bad.json", c.text));
    const auto r = RunOnChip(args);
    EXPECT_EQ(r.result.rc, 1) << c.says;
    EXPECT_NE(r.result.err.find(c.says), std::string::npos) << r.result.err;
    // Not even the batch's first step: the file is read before the run.
    EXPECT_TRUE(r.writes.empty()) << c.says;
  }
  const auto missing = Ctl({"apply", (dir_ / "none.json").string(), "--dry-run"});
  EXPECT_EQ(missing.rc, 1);
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.err;
}

TEST_F(SetupCommandsTest, BatchFileRunsAScriptAndNamesTheLineOfAMistake) {
  const auto script = File("bench.txt",
                           "# recorded in the window\n"
                           "address 0x5B\n\n"
                           "mode gpio\r\n"
                           "   # indented comment\n"
                           "gpio dir output\n"
                           "gpio out 3=high 5=high\n"
                           "current 25\n");
  auto r = RunOnChip({"--sim", "batch", "--file", script});
  ASSERT_EQ(r.result.rc, 0) << r.result.err;
  EXPECT_EQ(r.reg[0x12], 0xFF);
  EXPECT_EQ(r.reg[0x04], 0x00);
  EXPECT_EQ(r.reg[0x02], 0x02);
  EXPECT_EQ(r.reg[0x03], 0x08);
  EXPECT_EQ(r.reg[0x11], 0x01);

  // A mistake anywhere is found before the first line is sent.
  const auto bad = File("bad.txt", "mode gpio\n# fine so far\ngpio out 7=high\n");
  r = RunOnChip({"--sim", "batch", "-f", bad});
  EXPECT_EQ(r.result.rc, 2);
  EXPECT_NE(r.result.err.find(bad + " line 3: pin 7 is not on this board"), std::string::npos) << r.result.err;
  EXPECT_TRUE(r.writes.empty());

  const std::string kTimes = "--ramp-on 315ms --ramp-off 315ms --keep-on 315ms --keep-off 315ms";
  for (const auto& [args, says] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--sim", "batch", "--file"}, "batch --file needs a script"},
           {{"--sim", "batch", "--file", script, "reset"}, "no commands beside it"},
           {{"--sim", "batch", "--file", File("empty.txt", "# nothing\n\n")}, "holds no command"},
           {{"--sim", "batch", "--file", File("nested.txt", "batch 'reset'\n")}, "line 1: batch cannot be nested"},
           // The log would have its rows appended to the script it runs.
           {{"--sim", "--log", script, "batch", "--file", script}, "is the file '" + script + "' the command reads"},
           {{"--sim", "--log", script, "batch", "apply " + script}, "is the file '" + script + "' the command reads"},
           {{"--sim", "batch", "--file", File("long.txt", "reset\nreg read 0x20" + std::string(5000, ' ') + "\n")},
            "long.txt line 2 is 5013 characters long; a command line holds at most 4096"},
           {{"--sim", "batch", "--file", File("blinks.txt", "blink " + kTimes + "\nled 0\nblink " + kTimes + "\n")},
            "blinks.txt line 3: blink starts a second time without a chip reset since the first"}}) {
    const auto u = RunOnChip(args);
    EXPECT_EQ(u.result.rc, 2) << says;
    EXPECT_NE(u.result.err.find(says), std::string::npos) << u.result.err;
    EXPECT_TRUE(u.writes.empty());
  }
  EXPECT_EQ(std::filesystem::file_size(script), 122u) << "nothing appended";
  // Read up to the limit and no further: a device that never ends is
  // refused at the limit, not read line by line until memory runs out.
  const auto endless = Ctl({"--sim", "batch", "--file", "/dev/zero"});
  EXPECT_EQ(endless.rc, 1);
  EXPECT_NE(endless.err.find("'/dev/zero' is far too large for a script"), std::string::npos) << endless.err;
}

TEST_F(SetupCommandsTest, ExportWritesTheSameListForTheFirmware) {
  const auto file = File("bench.json", kSetup);
  const auto out = (dir_ / "setup.h").string();
  auto r = Ctl({"export", file, "--c", "-o", out});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "");
  std::ifstream in(out);
  const std::string header{std::istreambuf_iterator<char>(in), {}};
  std::string error;
  EXPECT_EQ(header, setup::ExportCHeader(*setup::ParseSetup(kSetup, error), "bench.json"));

  r = Ctl({"export", file, "--json"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("\"i2c_address\": \"0x5A\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"register\": \"0x13\",\n      \"value\": \"0x00\",\n      \"meaning\": \"LED / GPIO mode, port 1: LED\""),
            std::string::npos)
      << r.out;
  // An output that is the input is refused, whatever the path is called
  // (another spelling, a link, a second name of the file), and the input
  // is left as it was.
  const auto input = File("in.json", kSetup);
  std::filesystem::create_symlink(input, dir_ / "link.json");
  std::filesystem::create_hard_link(input, dir_ / "second.json");
  for (const std::string& same : {input, (dir_ / "." / "in.json").string(), (dir_ / "link.json").string(),
                                  (dir_ / "second.json").string()})
    for (const char* format : {"--c", "--json"}) {
      r = Ctl({"export", input, format, "-o", same});
      EXPECT_EQ(r.rc, 2) << same;
      EXPECT_NE(r.err.find("is the input file"), std::string::npos) << r.err;
      std::ifstream kept(input);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), kSetup) << same;
    }
  // An existing output is replaced by a file written whole beside it: a
  // second name of the old file keeps the old content.
  std::filesystem::create_hard_link(out, dir_ / "old-setup.h");
  r = Ctl({"export", file, "--json", "-o", out});
  ASSERT_EQ(r.rc, 0) << r.err;
  std::ifstream old((dir_ / "old-setup.h").string()), replaced(out);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), header);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(replaced), {}), setup::ExportJsonList(*setup::ParseSetup(kSetup, error)));
  // The tool's help names the commands.
  r = Ctl({"--help"});
  for (const char* line : {"  batch --file SCRIPT ", "  apply SETUP.json ", "  export SETUP.json --c|--json [-o OUT]"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line;
  r = Ctl({"export", file});
  EXPECT_EQ(r.rc, 2);
  EXPECT_NE(r.err.find("usage: export SETUP.json --c|--json [-o OUT]"), std::string::npos) << r.err;
}

}  // namespace
