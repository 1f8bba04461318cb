// Setup files: what a file holds comes back unchanged, a bad file is refused
// with its field named, the register writes come in the pages' order, and a
// setup is built from what the chip model knows.
#include <gtest/gtest.h>

#include <map>

#include "setup/Setup.h"
#include "setup/SetupWrites.h"

namespace {

using ChipSetup = setup::Setup;

ChipSetup FullLedSetup() {
  ChipSetup s;
  s.boardId = 1;
  s.i2cAddress = 0x59;
  s.i2cSpeed = 10;
  s.mode = setup::PinMode::kLed;
  s.maxCurrentMa = 25;
  s.driver = setup::Driver::kPushPull;
  s.brightness = {255, 128, 128, 0, 64, 7};
  s.rampTimes = setup::TimePair{1, 3};
  s.keepTimes = setup::TimePair{5, 2};
  return s;
}

ChipSetup GpioSetup(std::uint8_t board) {
  ChipSetup s;
  s.boardId = board;
  s.mode = setup::PinMode::kGpio;
  s.direction = setup::Direction::kOutput;
  s.interruptDisabled = setup::PinSet{};
  (*s.interruptDisabled)[0] = (*s.interruptDisabled)[5] = 1;
  if (board != 128) {
    s.outputHigh = setup::PinSet{};
    (*s.outputHigh)[3] = (*s.outputHigh)[5] = 1;
  }
  s.driver = setup::Driver::kOpenDrain;
  return s;
}

TEST(SetupFileTest, WhatIsSavedIsReadBackUnchanged) {
  for (const ChipSetup& s : {FullLedSetup(), GpioSetup(1), GpioSetup(0), GpioSetup(128), ChipSetup{}}) {
    const std::string text = setup::SetupToJson(s);
    std::string error;
    const auto back = setup::ParseSetup(text, error);
    ASSERT_TRUE(back) << error << "\n" << text;
    EXPECT_EQ(*back, s) << text;
  }
  // The file is for people too: the fields say what they hold.
  const std::string text = setup::SetupToJson(FullLedSetup());
  for (const char* part : {"\"format\": \"corvel-setup\"", "\"version\": 1", "\"board\": \"QV6033\"",
                           "\"address\": \"0x59\"", "\"speed\": \"1M\"", "\"mode\": \"led\"", "\"max_current_ma\": 25",
                           "\"ramp_on\": \"315ms\"", "\"keep_off\": \"630ms\""})
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
}

TEST(SetupFileTest, BadFilesAreRefusedNamingTheField) {
  const std::string head = R"({"format": "corvel-setup", "version": 1, "board_id": 1, )";
  struct Case {
    std::string text;
    const char* says;
  };
  const Case cases[] = {
      {R"({"format": "corvel-setup", "version": 2, "board_id": 1, "new_thing": 3})", "version: the file is of format version 2, newer"},
      {R"({"format": "corvel-setup", "version": 18446744073709551615})", "version: the file is of format version 18446744073709551615"},
      {R"({"format": "other", "version": 1, "board_id": 1})", "format: \"other\" is not a setup file"},
      {R"({"version": 1, "board_id": 1})", "format: missing"},
      {R"([1, 2])", "(file): must be a JSON object"},
      {R"({"format": "corvel-setup", "version": 1, "board_id": 7})", "board_id: 7 names no chip board"},
      {R"({"format": "corvel-setup", "version": 1})", "board_id: missing"},
      {head + R"("board": "QV6031"})", "board: \"QV6031\" is not the chip board of board_id 1 (QV6033)"},
      {head + R"("max_current_ma": 41})", "max_current_ma: 41 is out of range 0..40"},
      {head + R"("max_current_ma": -1})", "max_current_ma: -1 is out of range 0..40"},
      {head + R"("max_current_ma": 25.5})", "max_current_ma: must be a whole number, not a fraction"},
      {head + R"("max_current_ma": "25"})", "max_current_ma: must be a whole number, not a text"},
      // Past 64 bits the parser holds a number as a fraction would be held.
      {head + R"("max_current_ma": 99999999999999999999})", "max_current_ma: the number is too large: out of range 0..40"},
      {head + R"("max_current_ma": -99999999999999999999})", "max_current_ma: the number is too large"},
      {R"({"format": "corvel-setup", "version": 99999999999999999999, "board_id": 1})", "version: the number is too large"},
      // A field named twice: the last would win unseen.
      {head + R"("max_current_ma": 55, "max_current_ma": 25})", "max_current_ma: given twice"},
      {R"({"format": "corvel-setup", "version": 1, "board_id": 1, "board_id": 3})", "board_id: given twice"},
      {head + R"("i2c": {"address": "0x58", "speed": "1M", "address": "0x59"}})", "i2c.address: given twice"},
      {head + R"("brightness": [1, 2, 3]})", "brightness: holds 3 values; the QV6033 has 6 LEDs"},
      {head + R"("brightness": [1, 2, 300, 4, 5, 6]})", "brightness[2]: 300 is out of range 0..255"},
      {head + R"("i2c": {"address": "0x5C"}})", "i2c.address: \"0x5C\" is not one of"},
      {head + R"("i2c": {"speed": "100K"}})", "i2c.speed: \"100K\" is not one of \"400K\", \"1M\""},
      {head + R"("pins": {"mode": "pwm"}})", "pins.mode: \"pwm\" is not one of \"led\", \"gpio\""},
      {head + R"("effect_times": {"ramp_on": "315ms"}})", "effect_times.ramp_off: missing"},
      {head + R"("effect_times": {"keep_on": "300ms", "keep_off": "315ms"}})", "effect_times.keep_on: \"300ms\" is not one of"},
      {head + R"("gpio": {"interrupt_disabled": [6]}})", "gpio.interrupt_disabled[0]: pin 6 is not on the QV6033 (pins 0..5)"},
      {head + R"("gpio": {"interrupt_disabled": 3}})", "gpio.interrupt_disabled: must be a list of pin numbers"},
      {head + R"("gpio": {"irq": []}})", "gpio.irq: unknown field"},
      {head + R"("colour": "red"})", "colour: unknown field"},
      {R"({"format": "corvel-setup", "version": 1, "board_id": 128, "pins": {"mode": "led"}})", "pins.mode: the QV6034 works in GPIO mode only"},
      {R"({"format": "corvel-setup", "version": 1, "board_id": 128, "gpio": {"output_high": [1]}})", "gpio.output_high: the QV6034 has no output level mapping"},
      {head + R"("max_current_ma": 25)", "damaged: not valid JSON"},
      {"", "damaged: not valid JSON"},
      {std::string(setup::kMaxFileBytes + 1, ' '), "far too large"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(setup::ParseSetup(c.text, error)) << c.text.substr(0, 200);
    EXPECT_NE(error.find(c.says), std::string::npos) << "said: " << error << "\nexpected: " << c.says;
    EXPECT_EQ(error.find("json.exception"), std::string::npos) << error;
  }
}

// A damaged file is described where a person looks for the fault (line and
// column) and in words, not the parser's codes; a value from the file is
// quoted escaped and cut short, however long it is.
TEST(SetupFileTest, DamageAndOddValuesAreToldInAPersonsWords) {
  const std::string head = "{\n  \"format\": \"corvel-setup\",\n  \"version\": 1,\n  \"board_id\": 1,\n";
  struct Case {
    std::string text;
    std::string says;  // the whole message
  };
  const Case cases[] = {
      {head + "  \"driver\": \"push-pull\"\n  \"max_current_ma\": 25\n}",
       "damaged: not valid JSON at line 6, column 3: '}' was expected, not a text in quotes"},
      {head + "  \"driver\": push-pull\n}", "damaged: not valid JSON at line 5, column 13: a word that is not true, "
                                           "false or null, or text without quotes"},
      {head + "  \"max_current_ma\": 25,\n", "damaged: not valid JSON at line 6, column 1: a text in quotes was "
                                              "expected, not the end of the file"},
      {head + "  \"driver\": \"pull\\n\\u0001\"\n}",
       "driver: \"pull\\n\\x01\" is not one of \"open-drain\", \"push-pull\""},
      {head + "  \"driver\": \"" + std::string(900 * 1024, 'x') + "\"\n}",
       "driver: \"" + std::string(40, 'x') + "\"… (921600 bytes in all) is not one of \"open-drain\", \"push-pull\""},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(setup::ParseSetup(c.text, error));
    EXPECT_EQ(error, c.says);
  }
}

TEST(SetupFileTest, DeeplyNestedDamageIsRefusedWithoutRunningOutOfStack) {
  std::string text = R"({"format": "corvel-setup", "version": 1, "board_id": 1, "gpio": )";
  text += std::string(100000, '[') + std::string(100000, ']') + "}";
  std::string error;
  EXPECT_FALSE(setup::ParseSetup(text, error));
  EXPECT_NE(error.find("gpio: must be an object"), std::string::npos) << error;
}

using Writes = std::vector<std::pair<int, std::vector<std::uint8_t>>>;
Writes Plain(const std::vector<setup::RegisterWrite>& writes) {
  Writes out;
  for (const auto& w : writes) out.emplace_back(w.reg, w.data);
  return out;
}

TEST(SetupWritesTest, WritesComeInThePagesOrder) {
  // Mode first (and 0x00 to 0x14 once LED mode is set, as the page does on
  // its acknowledgement), the brightness block last, right after 0x14.
  EXPECT_EQ(Plain(setup::SetupWrites(FullLedSetup())),
            (Writes{{0x12, {0x00, 0x00}},
                    {0x14, {0x00}},
                    {0x11, {0x11}},  // 25 mA is range code 1, push-pull bit 4
                    {0x15, {0x19}},  // ramp on 315 ms, off 1260 ms
                    {0x16, {0x15}},  // keep on 5040 ms, off 630 ms
                    {0x14, {0x00}},
                    {0x20, {255, 128, 128, 0, 64, 7}}}));
  // GPIO: direction right after the mode; pins through the board's wiring
  // (on the QV6033 pin 0 is P1_0, pin 5 is P0_1; outputs 3 and 5 go to
  // bit 3 of 0x03 and bit 1 of 0x02).
  EXPECT_EQ(Plain(setup::SetupWrites(GpioSetup(1))),
            (Writes{{0x12, {0xFF, 0xFF}}, {0x04, {0x00, 0x00}}, {0x11, {0x00}}, {0x06, {0x02, 0x01}}, {0x02, {0x02, 0x08}}}));
  // The QV6034 keeps pin i on bit i.
  EXPECT_EQ(Plain(setup::SetupWrites(GpioSetup(128))),
            (Writes{{0x12, {0xFF, 0xFF}}, {0x04, {0x00, 0x00}}, {0x11, {0x00}}, {0x06, {0x21, 0x00}}}));
  EXPECT_TRUE(setup::SetupWrites(ChipSetup{}).empty());
  // GPIO settings in LED mode do nothing: not written, and named as such.
  ChipSetup ledWithGpio = GpioSetup(1);
  ledWithGpio.mode = setup::PinMode::kLed;
  EXPECT_EQ(Plain(setup::SetupWrites(ledWithGpio)), (Writes{{0x12, {0x00, 0x00}}, {0x14, {0x00}}, {0x11, {0x00}}}));
  EXPECT_EQ(setup::NotWrittenText(ledWithGpio),
            "pins.direction, gpio.interrupt_disabled and gpio.output_high were not written: the setup puts the pins "
            "in LED mode, where GPIO settings do nothing.");
  EXPECT_EQ(setup::NotWrittenText(GpioSetup(1)), "");

  // The firmware's list: the same writes register by register, each with
  // what the register page reads in it.
  const auto values = setup::SetupRegisterValues(GpioSetup(1));
  ASSERT_EQ(values.size(), 9u);
  EXPECT_EQ(values[1].reg, 0x13);
  EXPECT_EQ(values[1].meaning, "LED / GPIO mode, port 1: GPIO");
  EXPECT_EQ(values[4].meaning, "global control: current range 0 (up to 40 mA), open drain");
  // The GPIO registers' port bits are named as the board's pins, as the
  // setup names them (pins 0 and 5 disabled, pins 3 and 5 high).
  EXPECT_EQ(values[5].meaning, "interrupt disable, port 0 (board pins 4 5): disabled on pins 5");
  EXPECT_EQ(values[6].meaning, "interrupt disable, port 1 (board pins 0 1 2 3): disabled on pins 0");
  EXPECT_EQ(values[7].meaning, "output levels, port 0 (board pins 4 5): high on pins 5");
  EXPECT_EQ(values[8].meaning, "output levels, port 1 (board pins 0 1 2 3): high on pins 3");
}

TEST(SetupWritesTest, TheCHeaderListsEveryRegisterWithItsMeaning) {
  const std::string h = setup::ExportCHeader(FullLedSetup(), "bench */ setup.json");
  EXPECT_NE(h.find("#define CORVEL_SETUP_I2C_ADDRESS 0x59u"), std::string::npos) << h;
  EXPECT_NE(h.find("#define CORVEL_SETUP_I2C_KHZ 1000u"), std::string::npos) << h;
  EXPECT_NE(h.find("static const corvel_setup_write corvel_setup_writes[] = {\n    {0x12u, 0x00u}, /* LED / GPIO mode, port 0: LED */\n"),
            std::string::npos)
      << h;
  EXPECT_NE(h.find("{0x21u, 0x80u}, /* LED 1 brightness: 128 (50 %) */"), std::string::npos) << h;
  // A file name cannot end the comment it is quoted in.
  EXPECT_EQ(h.find("bench */"), std::string::npos) << h;
  // A setup without writes still compiles (no empty initialiser list), and
  // so does firmware that walks its array: the array stays, its count is 0.
  const std::string empty = setup::ExportCHeader(ChipSetup{}, "empty.json");
  EXPECT_NE(empty.find("static const corvel_setup_write corvel_setup_writes[] = {\n    {0x00u, 0x00u}, /* none */\n};"),
            std::string::npos)
      << empty;
  EXPECT_NE(empty.find("static const size_t corvel_setup_write_count = 0u;"), std::string::npos) << empty;
}

TEST(SetupFromChipModelTest, TakesWhatTheChipModelKnows) {
  std::map<int, std::uint8_t> chip = {{0x12, 0x00}, {0x13, 0x00}, {0x04, 0x03}, {0x05, 0x0F},  // blink chain's direction
                                      {0x11, 0x11}, {0x15, 0x19}, {0x16, 0x3F},                // keep codes 7: no time
                                      {0x20, 10},   {0x22, 30},   {0x06, 0x02}, {0x07, 0x01}};
  setup::ChipModelView view;
  view.known = [&](std::uint8_t reg) -> std::optional<std::uint8_t> {
    const auto it = chip.find(reg);
    return it == chip.end() ? std::nullopt : std::optional(it->second);
  };
  view.typedCurrent = 25;
  view.brightnessFallback = {1, 2, 3, 4, 5, 6};
  const ChipSetup s = setup::SetupFromChipModel(1, 0x5A, 4, view);
  EXPECT_EQ(s.boardId, 1);
  EXPECT_EQ(s.i2cAddress, 0x5A);
  EXPECT_EQ(s.mode, setup::PinMode::kLed);
  EXPECT_FALSE(s.direction);  // neither all inputs nor all outputs
  EXPECT_EQ(s.maxCurrentMa, 25);  // as typed: in the range the chip holds
  EXPECT_EQ(s.driver, setup::Driver::kPushPull);
  EXPECT_EQ(s.brightness, (std::vector<std::uint8_t>{10, 2, 30, 4, 5, 6}));
  EXPECT_EQ(s.rampTimes, (setup::TimePair{1, 3}));
  EXPECT_FALSE(s.keepTimes);
  ASSERT_TRUE(s.interruptDisabled);
  EXPECT_EQ((*s.interruptDisabled)[0], 1);
  EXPECT_EQ((*s.interruptDisabled)[5], 1);
  EXPECT_FALSE(s.outputHigh);

  // A typed value outside the held range is not claimed; nothing known, nothing saved.
  view.typedCurrent = 35;
  EXPECT_EQ(setup::SetupFromChipModel(1, 0x5B, 4, view).maxCurrentMa, 30);
  chip.clear();
  EXPECT_EQ(setup::SetupFromChipModel(1, 0x5B, 4, view), ChipSetup{});
}

}  // namespace
