#include "setup/SetupWrites.h"

#include <cstdio>
#include <optional>

#include <nlohmann/json.hpp>

namespace setup {
namespace {

std::string PinWords(const PinSet& set, int count) {
  std::string out;
  for (int i = 0; i < count && i < chip::kMaxPins; ++i)
    if (set[static_cast<std::size_t>(i)]) out += (out.empty() ? "" : " ") + std::to_string(i);
  return out.empty() ? "none" : out;
}

std::string TimeWords(const char* what, const TimePair& t) {
  return std::string(what) + " on " + chip::kTimeTexts[t.on] + ", " + what + " off " + chip::kTimeTexts[t.off];
}

std::string Meaning(std::uint8_t reg, std::uint8_t value) {
  const chip::RegisterInfo* info = chip::FindRegister(reg);
  std::string text = info ? info->name : "register " + Hex2(reg);
  const std::string decoded = chip::DescribeValue(reg, value);
  return decoded.empty() ? text : text + ": " + decoded;
}

// The GPIO registers hold port bits, which the board wires to its own pins
// in its own order: a firmware author reads them as the board's pins, as
// the setup names them. Nothing for other registers.
std::optional<std::string> BoardPinMeaning(std::uint8_t reg, std::uint8_t value, std::uint8_t boardId) {
  const bool interrupts = reg == chip::kRegInterruptDisable || reg == chip::kRegInterruptDisable + 1;
  const bool levels = reg == chip::kRegOutputLevels || reg == chip::kRegOutputLevels + 1;
  if (!interrupts && !levels) return std::nullopt;
  if (levels && !chip::HasOutputLevelMapping(boardId)) return std::nullopt;
  const int port = interrupts ? reg - chip::kRegInterruptDisable : reg - chip::kRegOutputLevels;
  std::string onPort, set;
  for (int pin = 0; pin < BoardLedCount(boardId); ++pin) {
    const auto where = interrupts ? chip::InterruptDisableBit(pin, boardId) : chip::OutputLevelBit(pin, boardId);
    if (!where || where->byte != port) continue;
    onPort += (onPort.empty() ? "" : " ") + std::to_string(pin);
    if ((value >> where->bit) & 1u) set += (set.empty() ? "" : " ") + std::to_string(pin);
  }
  std::string text = std::string(interrupts ? "interrupt disable" : "output levels") + ", port " + std::to_string(port);
  if (onPort.empty()) return text + " (no pin of the board)";
  return text + " (board pins " + onPort + "): " + (interrupts ? "disabled on " : "high on ") +
         (set.empty() ? std::string("none") : "pins " + set);
}

}  // namespace

std::vector<NotWritten> FieldsNotWritten(const Setup& s) {
  std::vector<NotWritten> out;
  if (s.mode != PinMode::kLed) return out;
  const char* why = "the setup puts the pins in LED mode, where GPIO settings do nothing";
  if (s.direction) out.push_back({"pins.direction", why});
  if (s.interruptDisabled) out.push_back({"gpio.interrupt_disabled", why});
  if (s.outputHigh) out.push_back({"gpio.output_high", why});
  return out;
}

std::string NotWrittenText(const Setup& s) {
  const auto fields = FieldsNotWritten(s);
  if (fields.empty()) return {};
  std::string names;
  for (std::size_t i = 0; i < fields.size(); ++i)
    names += (i == 0 ? "" : i + 1 == fields.size() ? " and " : ", ") + fields[i].field;
  return names + (fields.size() == 1 ? " was" : " were") + " not written: " + fields.front().why + ".";
}

std::vector<RegisterWrite> SetupWrites(const Setup& s) {
  std::vector<RegisterWrite> out;
  const auto add = [&](std::uint8_t reg, std::vector<std::uint8_t> data, std::string what) {
    out.push_back({reg, std::move(data), std::move(what)});
  };
  const auto bytes = [](const std::array<std::uint8_t, 2>& a) { return std::vector<std::uint8_t>(a.begin(), a.end()); };
  const int count = BoardLedCount(s.boardId);

  // The mode first: what the other registers mean depends on it.
  if (s.mode == PinMode::kLed) {
    add(chip::kRegMode, bytes(chip::kModeLed), "pins drive LEDs");
    // As the LED board page does once the mode is confirmed.
    add(chip::kRegEffectControl, {chip::kEffectStop}, "effects stopped");
  } else if (s.mode == PinMode::kGpio) {
    add(chip::kRegMode, bytes(chip::kModeGpio), "pins are GPIO");
  }
  // GPIO settings only where the pins are not set to drive LEDs (see
  // FieldsNotWritten).
  const bool gpioApplies = s.mode != PinMode::kLed;
  if (s.direction && gpioApplies)
    add(chip::kRegDirection, bytes(*s.direction == Direction::kInput ? chip::kDirectionInput : chip::kDirectionOutput),
        *s.direction == Direction::kInput ? "all pins inputs" : "all pins outputs");
  if (s.maxCurrentMa || s.driver) {
    // One register holds both: the current's range in bits 1..0, the driver
    // type in bit 4. The one not given is written as the window's current
    // field writes it (40 mA; the driver bit cleared).
    const int mA = s.maxCurrentMa.value_or(40);
    const bool pushPull = s.driver == Driver::kPushPull;
    const std::uint8_t value = static_cast<std::uint8_t>(chip::CurrentRangeCode(mA) | (pushPull ? chip::kDriverPushPull : 0));
    add(chip::kRegGlobalControl, {value},
        "maximum current " + std::to_string(mA) + " mA, " + (pushPull ? "push-pull" : "open drain") + " outputs");
  }
  if (s.rampTimes)
    add(chip::kRegRampTimes, {chip::TimeByte(s.rampTimes->on, s.rampTimes->off)}, TimeWords("ramp", *s.rampTimes));
  if (s.keepTimes)
    add(chip::kRegKeepTimes, {chip::TimeByte(s.keepTimes->on, s.keepTimes->off)}, TimeWords("keep", *s.keepTimes));
  if (s.interruptDisabled && gpioApplies)
    add(chip::kRegInterruptDisable, bytes(chip::InterruptDisableBytes(*s.interruptDisabled, count, s.boardId)),
        "interrupts disabled on pins " + PinWords(*s.interruptDisabled, count));
  if (s.outputHigh && gpioApplies)
    add(chip::kRegOutputLevels, bytes(chip::OutputLevelBytes(*s.outputHigh, count, s.boardId)),
        "outputs high on pins " + PinWords(*s.outputHigh, count));
  if (!s.brightness.empty()) {
    // The brightness block always follows 0x00 to the effect control.
    add(chip::kRegEffectControl, {chip::kEffectStop}, "effects stopped before the brightness");
    add(chip::kRegBrightness, s.brightness, "brightness of LEDs 0.." + std::to_string(s.brightness.size() - 1));
  }
  return out;
}

std::string WriteText(const RegisterWrite& w) {
  std::string text = Hex2(w.reg) + " <-";
  for (std::uint8_t b : w.data) text += " " + Hex2(b);
  return text;
}

std::vector<RegisterValue> SetupRegisterValues(const Setup& setup) {
  std::vector<RegisterValue> out;
  for (const RegisterWrite& w : SetupWrites(setup))
    for (std::size_t i = 0; i < w.data.size(); ++i) {
      const auto reg = static_cast<std::uint8_t>(w.reg + i);
      out.push_back({reg, w.data[i], BoardPinMeaning(reg, w.data[i], setup.boardId).value_or(Meaning(reg, w.data[i]))});
    }
  return out;
}

std::string ExportCHeader(const Setup& s, const std::string& sourceName) {
  const char* board = BoardName(s.boardId) ? BoardName(s.boardId) : "unknown";
  // The source name goes into a comment: nothing in it may end the comment.
  std::string source;
  for (std::size_t i = 0; i < sourceName.size(); ++i) {
    const char c = sourceName[i];
    if (static_cast<unsigned char>(c) < 0x20 || (c == '*' && i + 1 < sourceName.size() && sourceName[i + 1] == '/'))
      source += '_';
    else
      source += c;
  }
  std::string h;
  h += "/* Register writes of a chip setup for the " + std::string(board) + " (board id " + std::to_string(s.boardId) +
       "),\n * made from " + source + " by corvelctl export.\n"
       " * Send them in this order, one register each, to the chip at I2C address\n"
       " * CORVEL_SETUP_I2C_ADDRESS (7-bit) on a bus of CORVEL_SETUP_I2C_KHZ kHz. */\n";
  h += "#ifndef CORVEL_SETUP_H\n#define CORVEL_SETUP_H\n\n";
  // CORVEL_SETUP_WRITE_COUNT is a size_t: the header brings what it needs.
  h += "#include <stddef.h>\n\n";
  h += "#define CORVEL_SETUP_I2C_ADDRESS " + Hex2(s.i2cAddress) + "u\n";
  h += std::string("#define CORVEL_SETUP_I2C_KHZ ") + (s.i2cSpeed == 10 ? "1000" : "400") + "u\n\n";
  h += "typedef struct corvel_setup_write {\n  unsigned char reg;   /* register address */\n"
       "  unsigned char value; /* value written */\n} corvel_setup_write;\n\n";
  const auto values = SetupRegisterValues(s);
  if (values.empty()) {
    // An empty initialiser list is not C: a setup that writes nothing keeps
    // the array (one entry, marked as none) so that firmware that walks it
    // compiles, and a count of zero, so that it walks nothing (a count held
    // in a constant: a literal 0 would make the loop's "i < count" a
    // comparison that is always false, which -Wextra turns into an error).
    h += "/* The setup sets no register: the one entry is a placeholder, not a write. */\n"
         "static const corvel_setup_write corvel_setup_writes[] = {\n    {0x00u, 0x00u}, /* none */\n};\n"
         "static const size_t corvel_setup_write_count = 0u;\n\n"
         "#define CORVEL_SETUP_WRITE_COUNT corvel_setup_write_count\n";
  } else {
    h += "static const corvel_setup_write corvel_setup_writes[] = {\n";
    for (const RegisterValue& v : values) h += "    {" + Hex2(v.reg) + "u, " + Hex2(v.value) + "u}, /* " + v.meaning + " */\n";
    h += "};\n\n#define CORVEL_SETUP_WRITE_COUNT (sizeof corvel_setup_writes / sizeof corvel_setup_writes[0])\n";
  }
  h += "\n#endif /* CORVEL_SETUP_H */\n";
  return h;
}

std::string ExportJsonList(const Setup& s) {
  nlohmann::ordered_json j;
  j["board"] = BoardName(s.boardId) ? BoardName(s.boardId) : "";
  j["board_id"] = s.boardId;
  j["i2c_address"] = Hex2(s.i2cAddress);
  j["i2c_khz"] = s.i2cSpeed == 10 ? 1000 : 400;
  nlohmann::ordered_json writes = nlohmann::ordered_json::array();
  for (const RegisterValue& v : SetupRegisterValues(s))
    writes.push_back({{"register", Hex2(v.reg)}, {"value", Hex2(v.value)}, {"meaning", v.meaning}});
  j["writes"] = writes;
  return j.dump(2) + "\n";
}

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFFu);
  return buf;
}

}  // namespace setup
