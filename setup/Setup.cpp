#include "setup/Setup.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

#include <nlohmann/json.hpp>

#include "link/BoardIds.h"

namespace setup {
namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// A refusal of one field; caught once at the top.
struct FieldError {
  std::string message;
};

[[noreturn]] void Refuse(const std::string& field, const std::string& what) { throw FieldError{field + ": " + what}; }

// A value from the file as a message quotes it: control characters escaped,
// and cut to a length a message box shows at once (a value of a megabyte
// would keep the window busy laying out its text).
constexpr std::size_t kShownChars = 40;
std::string Shown(const std::string& value) {
  std::string out;
  std::size_t shown = 0, i = 0;
  for (; i < value.size() && shown < kShownChars; ++i, ++shown) {
    const auto c = static_cast<unsigned char>(value[i]);
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02X", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
          // The rest of a UTF-8 sequence goes with its first byte.
          while (i + 1 < value.size() && (static_cast<unsigned char>(value[i + 1]) & 0xC0) == 0x80) out += value[++i];
        }
    }
  }
  out = "\"" + out + "\"";
  if (i < value.size()) out += "… (" + std::to_string(value.size()) + " bytes in all)";
  return out;
}

// The parser's words for what it met and what it wanted, in a person's.
std::string TokenWords(std::string token) {
  while (!token.empty() && token.back() == ' ') token.pop_back();
  static const std::pair<const char*, const char*> kWords[] = {
      {"string literal", "a text in quotes"},
      {"number literal", "a number"},
      {"true literal", "true"},
      {"false literal", "false"},
      {"null literal", "null"},
      {"end of input", "the end of the file"},
      {"'[', '{', or a literal", "a value"},
      {"<parse error>", "something that is not JSON"},
      {"<uninitialized>", "nothing"},
  };
  for (const auto& [parser, words] : kWords)
    if (token == parser) return words;
  return token;  // a character in quotes, as "':'" or "'}'"
}

// "line 3, column 5: a text in quotes was expected, not '}'" from the
// parser's exception: the place counted in the text itself, the reason
// without the library's codes.
std::string ParseErrorWords(std::string_view text, const nlohmann::json::parse_error& e) {
  // The parser stops at the end of what it could not take; a person looks
  // for its start (the quote that opens an unexpected text), or for the
  // end of the file when that came too early.
  std::size_t start = text.size();
  if (std::string(e.what()).find("unexpected end of input") == std::string::npos && e.byte > 0 &&
      e.byte <= text.size()) {
    start = e.byte - 1;
    const auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+'; };
    if (text[start] == '"') {
      while (start > 0 && !(text[start - 1] == '"' && (start < 2 || text[start - 2] != '\\'))) --start;
      if (start > 0) --start;
    } else {
      while (start > 0 && word(text[start]) && word(text[start - 1])) --start;
    }
  }
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < start; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++column;
    }
  }
  std::string what = e.what();
  // "[json.exception.parse_error.101] parse error at line 1, column 5: syntax error while parsing object - X"
  if (const auto dash = what.find(" - "); dash != std::string::npos) what = what.substr(dash + 3);
  std::string reason;
  const auto unexpected = what.find("unexpected ");
  const auto expected = what.find("; expected ");
  const auto lastRead = what.find("; last read: ");
  if (unexpected == 0 && expected != std::string::npos) {
    reason = TokenWords(what.substr(expected + 11)) + " was expected, not " +
             TokenWords(what.substr(11, expected - 11));
  } else if (unexpected == 0) {
    reason = TokenWords(what.substr(11, lastRead == std::string::npos ? std::string::npos : lastRead - 11)) +
             " came where it makes no sense";
  } else {
    // The lexer's own finding ("invalid literal", "invalid string: missing
    // closing quote"): readable as it is, without what it had read.
    reason = what.substr(0, lastRead);
    if (reason == "invalid literal") reason = "a word that is not true, false or null, or text without quotes";
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + reason;
}

const char* TypeName(const Json& j) {
  switch (j.type()) {
    case Json::value_t::null: return "null";
    case Json::value_t::object: return "an object";
    case Json::value_t::array: return "a list";
    case Json::value_t::string: return "a text";
    case Json::value_t::boolean: return "true/false";
    case Json::value_t::number_float: return "a fraction";
    default: return "a number";
  }
}

// A whole number written out that does not fit 64 bits: the parser keeps it
// as a floating-point value, but nobody wrote a fraction.
bool TooLarge(const Json& j) {
  if (!j.is_number_float()) return false;
  const double v = j.get<double>();
  return !std::isfinite(v) || (std::trunc(v) == v && std::fabs(v) >= 9223372036854775808.0);
}

// A whole number within lo..hi; the field is named in every refusal.
int WholeNumber(const Json& j, const std::string& field, long long lo, long long hi) {
  if (TooLarge(j)) Refuse(field, "the number is too large: out of range " + std::to_string(lo) + ".." + std::to_string(hi));
  if (!j.is_number_integer()) Refuse(field, std::string("must be a whole number, not ") + TypeName(j));
  long long v = 0;
  if (j.is_number_unsigned()) {
    const auto u = j.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(hi)) Refuse(field, std::to_string(u) + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
    v = static_cast<long long>(u);
  } else {
    v = j.get<std::int64_t>();
  }
  if (v < lo || v > hi) Refuse(field, std::to_string(v) + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
  return static_cast<int>(v);
}

const std::string& Text(const Json& j, const std::string& field) {
  if (!j.is_string()) Refuse(field, std::string("must be a text, not ") + TypeName(j));
  return j.get_ref<const std::string&>();
}

// One of a few words; the refusal lists them.
int Choice(const Json& j, const std::string& field, std::initializer_list<const char*> words) {
  const std::string& text = Text(j, field);
  int index = 0;
  std::string list;
  for (const char* w : words) {
    if (text == w) return index;
    list += std::string(index ? ", " : "") + "\"" + w + "\"";
    ++index;
  }
  Refuse(field, Shown(text) + " is not one of " + list);
}

const Json& Object(const Json& j, const std::string& field, std::initializer_list<const char*> allowed) {
  if (!j.is_object()) Refuse(field, std::string("must be an object, not ") + TypeName(j));
  for (const auto& [key, value] : j.items()) {
    bool known = false;
    for (const char* a : allowed) known = known || key == a;
    if (!known) {
      // The name itself comes from the file: quoted like any value.
      const std::string name = key.size() <= kShownChars && Shown(key) == "\"" + key + "\"" ? key : Shown(key);
      Refuse(field.empty() ? name : field + "." + name, "unknown field (a typing error, or a newer format)");
    }
  }
  return j;
}

std::uint8_t TimeCode(const Json& j, const std::string& field) {
  const std::string& text = Text(j, field);
  const auto code = chip::TimeCodeFromText(text);
  if (!code) {
    std::string list;
    for (const char* t : chip::kTimeTexts) list += std::string(list.empty() ? "" : ", ") + t;
    Refuse(field, Shown(text) + " is not one of " + list);
  }
  return *code;
}

std::optional<TimePair> Times(const Json& times, const char* on, const char* off) {
  const bool hasOn = times.contains(on), hasOff = times.contains(off);
  if (!hasOn && !hasOff) return std::nullopt;
  // The two share one register: one without the other cannot be written.
  if (!hasOn) Refuse(std::string("effect_times.") + on, std::string("missing; it goes with ") + off + " into one register");
  if (!hasOff) Refuse(std::string("effect_times.") + off, std::string("missing; it goes with ") + on + " into one register");
  return TimePair{TimeCode(times[on], std::string("effect_times.") + on),
                  TimeCode(times[off], std::string("effect_times.") + off)};
}

PinSet Pins(const Json& j, const std::string& field, std::uint8_t boardId) {
  if (!j.is_array()) Refuse(field, std::string("must be a list of pin numbers, not ") + TypeName(j));
  const int count = BoardLedCount(boardId);
  PinSet set{};
  for (std::size_t i = 0; i < j.size(); ++i) {
    const std::string item = field + "[" + std::to_string(i) + "]";
    const int pin = WholeNumber(j[i], item, 0, chip::kMaxPins - 1);
    if (pin >= count)
      Refuse(item, "pin " + std::to_string(pin) + " is not on the " + BoardName(boardId) + " (pins 0.." +
                       std::to_string(count - 1) + ")");
    set[static_cast<std::size_t>(pin)] = 1;
  }
  return set;
}

Setup FromJson(const Json& root) {
  // The format and its version first: a newer file may hold fields this
  // program does not know, and should be named as newer, not as mistyped.
  if (!root.is_object()) Refuse("(file)", std::string("must be a JSON object, not ") + TypeName(root));
  if (!root.contains("format")) Refuse("format", std::string("missing: not a setup file (\"") + kFormatName + "\")");
  if (Text(root["format"], "format") != kFormatName)
    Refuse("format", Shown(root["format"].get<std::string>()) + " is not a setup file (\"" + kFormatName + "\")");
  if (!root.contains("version")) Refuse("version", "missing");
  if (TooLarge(root["version"])) Refuse("version", "the number is too large for a format version");
  if (!root["version"].is_number_integer()) Refuse("version", std::string("must be a whole number, not ") + TypeName(root["version"]));
  if (root["version"].is_number_unsigned() ? root["version"].get<std::uint64_t>() > static_cast<std::uint64_t>(kFormatVersion)
                                          : root["version"].get<std::int64_t>() > kFormatVersion)
    Refuse("version", "the file is of format version " + root["version"].dump() + ", newer than this program reads (" +
                          std::to_string(kFormatVersion) + "): it needs a newer CorvelGUI");
  WholeNumber(root["version"], "version", 1, kFormatVersion);
  Object(root, "", {"format", "version", "board", "board_id", "i2c", "pins", "max_current_ma", "driver",
                    "brightness", "effect_times", "gpio"});

  Setup s;
  if (!root.contains("board_id")) Refuse("board_id", "missing: the file must say which chip board it is for");
  s.boardId = static_cast<std::uint8_t>(WholeNumber(root["board_id"], "board_id", 0, 255));
  if (!BoardName(s.boardId)) Refuse("board_id", std::to_string(s.boardId) + " names no chip board (0, 1, 3, 5 or 128)");
  if (root.contains("board") && Text(root["board"], "board") != BoardName(s.boardId))
    Refuse("board", Shown(root["board"].get<std::string>()) + " is not the chip board of board_id " +
                        std::to_string(s.boardId) + " (" + BoardName(s.boardId) + ")");

  if (root.contains("i2c")) {
    const Json& i2c = Object(root["i2c"], "i2c", {"address", "speed"});
    if (i2c.contains("address")) {
      const Json& a = i2c["address"];
      if (a.is_string()) {
        const std::string& t = a.get_ref<const std::string&>();
        int value = -1;
        for (std::uint8_t candidate : {0x58, 0x59, 0x5A, 0x5B}) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "0x%02X", candidate);
          char lower[8];
          std::snprintf(lower, sizeof lower, "0x%02x", candidate);
          if (t == buf || t == lower) value = candidate;
        }
        if (value < 0) Refuse("i2c.address", Shown(t) + " is not one of \"0x58\", \"0x59\", \"0x5A\", \"0x5B\"");
        s.i2cAddress = static_cast<std::uint8_t>(value);
      } else {
        s.i2cAddress = static_cast<std::uint8_t>(WholeNumber(a, "i2c.address", 0x58, 0x5B));
      }
    }
    if (i2c.contains("speed")) s.i2cSpeed = Choice(i2c["speed"], "i2c.speed", {"400K", "1M"}) == 0 ? 4 : 10;
  }

  if (root.contains("pins")) {
    const Json& pins = Object(root["pins"], "pins", {"mode", "direction"});
    if (pins.contains("mode")) s.mode = Choice(pins["mode"], "pins.mode", {"led", "gpio"}) == 0 ? PinMode::kLed : PinMode::kGpio;
    if (pins.contains("direction"))
      s.direction = Choice(pins["direction"], "pins.direction", {"input", "output"}) == 0 ? Direction::kInput
                                                                                          : Direction::kOutput;
    // Its pins cannot drive LEDs: the window keeps it in GPIO mode.
    if (s.boardId == 128 && s.mode == PinMode::kLed) Refuse("pins.mode", "the QV6034 works in GPIO mode only");
  }

  if (root.contains("max_current_ma")) s.maxCurrentMa = WholeNumber(root["max_current_ma"], "max_current_ma", 0, 40);
  if (root.contains("driver"))
    s.driver = Choice(root["driver"], "driver", {"open-drain", "push-pull"}) == 0 ? Driver::kOpenDrain : Driver::kPushPull;

  if (root.contains("brightness")) {
    const Json& b = root["brightness"];
    if (!b.is_array()) Refuse("brightness", std::string("must be a list of values 0..255, not ") + TypeName(b));
    const int count = BoardLedCount(s.boardId);
    if (b.size() != static_cast<std::size_t>(count))
      Refuse("brightness", "holds " + std::to_string(b.size()) + " values; the " + BoardName(s.boardId) + " has " +
                               std::to_string(count) + " LEDs");
    for (std::size_t i = 0; i < b.size(); ++i)
      s.brightness.push_back(static_cast<std::uint8_t>(WholeNumber(b[i], "brightness[" + std::to_string(i) + "]", 0, 255)));
  }

  if (root.contains("effect_times")) {
    const Json& t = Object(root["effect_times"], "effect_times", {"ramp_on", "ramp_off", "keep_on", "keep_off"});
    s.rampTimes = Times(t, "ramp_on", "ramp_off");
    s.keepTimes = Times(t, "keep_on", "keep_off");
  }

  if (root.contains("gpio")) {
    const Json& g = Object(root["gpio"], "gpio", {"interrupt_disabled", "output_high"});
    if (g.contains("interrupt_disabled"))
      s.interruptDisabled = Pins(g["interrupt_disabled"], "gpio.interrupt_disabled", s.boardId);
    if (g.contains("output_high")) {
      if (!chip::HasOutputLevelMapping(s.boardId))
        Refuse("gpio.output_high", std::string("the ") + BoardName(s.boardId) + " has no output level mapping for its pins");
      s.outputHigh = Pins(g["output_high"], "gpio.output_high", s.boardId);
    }
  }
  return s;
}

OrderedJson PinList(const PinSet& set, int count) {
  OrderedJson list = OrderedJson::array();
  for (int i = 0; i < count && i < chip::kMaxPins; ++i)
    if (set[static_cast<std::size_t>(i)]) list.push_back(i);
  return list;
}

}  // namespace

const char* BoardName(std::uint8_t boardId) {
  const ChipBoardEntry* e = FindChipBoard(boardId);
  return e ? e->name : nullptr;
}

int BoardLedCount(std::uint8_t boardId) {
  const ChipBoardEntry* e = FindChipBoard(boardId);
  return e ? e->ledCount : 0;
}

std::optional<Setup> ParseSetup(std::string_view text, std::string& error) {
  if (text.size() > kMaxFileBytes) {
    error = "the file holds " + std::to_string(text.size()) + " bytes: far too large for a setup file";
    return std::nullopt;
  }
  Json root;
  // A field named twice in one object: the parser would keep the last, and
  // which one the person meant is not for the program to guess.
  struct Level {
    bool list = false;
    std::set<std::string> keys;
    std::string key;        // the field whose value is being read (objects)
    std::size_t items = 0;  // the values seen so far (lists)
  };
  std::vector<Level> levels;
  std::optional<std::string> twice;
  const auto place = [&] {
    std::string path;
    for (const Level& level : levels) {
      if (level.list) path += "[" + std::to_string(level.items == 0 ? 0 : level.items - 1) + "]";
      else if (!level.key.empty()) path += (path.empty() ? "" : ".") + level.key;
    }
    return path;
  };
  const Json::parser_callback_t noteKeys = [&](int, Json::parse_event_t event, Json& parsed) {
    const bool item = !levels.empty() && levels.back().list;
    switch (event) {
      case Json::parse_event_t::object_start:
      case Json::parse_event_t::array_start:
        if (item) ++levels.back().items;
        levels.push_back({event == Json::parse_event_t::array_start, {}, {}, 0});
        break;
      case Json::parse_event_t::object_end:
      case Json::parse_event_t::array_end:
        if (!levels.empty()) levels.pop_back();
        break;
      case Json::parse_event_t::key:
        if (!levels.empty() && parsed.is_string()) {
          Level& level = levels.back();
          level.key = parsed.get<std::string>();
          if (!level.keys.insert(level.key).second && !twice) twice = place();
        }
        break;
      case Json::parse_event_t::value:
        if (item) ++levels.back().items;
        break;
    }
    return true;
  };
  try {
    root = Json::parse(text.begin(), text.end(), noteKeys);
  } catch (const Json::parse_error& e) {
    error = "damaged: not valid JSON at " + ParseErrorWords(text, e);
    return std::nullopt;
  } catch (const Json::exception&) {
    error = "damaged: not valid JSON";
    return std::nullopt;
  }
  if (twice) {
    error = *twice + ": given twice (each field is named once)";
    return std::nullopt;
  }
  try {
    return FromJson(root);
  } catch (const FieldError& e) {
    error = e.message;
  } catch (const Json::exception&) {
    // A value the reader did not expect in that place (its checks name
    // every field they know); the library's own codes mean nothing to a
    // person.
    error = "damaged: a value of an unexpected kind";
  }
  return std::nullopt;
}

std::optional<Setup> LoadSetupFile(const std::string& path, std::string& error) {
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read '" + path + "'" + (errno ? std::string(": ") + std::strerror(errno) : std::string());
    return std::nullopt;
  }
  std::string text;
  char buf[4096];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    text.append(buf, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFileBytes) {
      error = "'" + path + "' is far too large for a setup file";
      return std::nullopt;
    }
  }
  if (in.bad()) {
    error = "cannot read '" + path + "'";
    return std::nullopt;
  }
  auto s = ParseSetup(text, error);
  if (!s) error = path + ": " + error;
  return s;
}

std::string SetupToJson(const Setup& s) {
  OrderedJson j;
  j["format"] = kFormatName;
  j["version"] = kFormatVersion;
  j["board"] = BoardName(s.boardId) ? BoardName(s.boardId) : "";
  j["board_id"] = s.boardId;
  char address[8];
  std::snprintf(address, sizeof address, "0x%02X", s.i2cAddress);
  j["i2c"] = {{"address", address}, {"speed", s.i2cSpeed == 10 ? "1M" : "400K"}};
  if (s.mode || s.direction) {
    OrderedJson pins = OrderedJson::object();
    if (s.mode) pins["mode"] = *s.mode == PinMode::kLed ? "led" : "gpio";
    if (s.direction) pins["direction"] = *s.direction == Direction::kInput ? "input" : "output";
    j["pins"] = pins;
  }
  if (s.maxCurrentMa) j["max_current_ma"] = *s.maxCurrentMa;
  if (s.driver) j["driver"] = *s.driver == Driver::kOpenDrain ? "open-drain" : "push-pull";
  if (!s.brightness.empty()) j["brightness"] = s.brightness;
  if (s.rampTimes || s.keepTimes) {
    OrderedJson t = OrderedJson::object();
    if (s.rampTimes) {
      t["ramp_on"] = chip::kTimeTexts[s.rampTimes->on];
      t["ramp_off"] = chip::kTimeTexts[s.rampTimes->off];
    }
    if (s.keepTimes) {
      t["keep_on"] = chip::kTimeTexts[s.keepTimes->on];
      t["keep_off"] = chip::kTimeTexts[s.keepTimes->off];
    }
    j["effect_times"] = t;
  }
  if (s.interruptDisabled || s.outputHigh) {
    OrderedJson g = OrderedJson::object();
    const int count = BoardLedCount(s.boardId);
    if (s.interruptDisabled) g["interrupt_disabled"] = PinList(*s.interruptDisabled, count);
    if (s.outputHigh) g["output_high"] = PinList(*s.outputHigh, count);
    j["gpio"] = g;
  }
  return j.dump(2) + "\n";
}

bool SaveSetupFile(const std::string& path, const Setup& setup, std::string& error) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = "cannot write '" + path + "'" + (errno ? std::string(": ") + std::strerror(errno) : std::string());
    return false;
  }
  out << SetupToJson(setup);
  out.close();
  if (!out) {
    error = "writing '" + path + "' failed" + (errno ? std::string(": ") + std::strerror(errno) : std::string());
    return false;
  }
  return true;
}

Setup SetupFromChipModel(std::uint8_t boardId, std::uint8_t i2cAddress, std::uint8_t i2cSpeed,
                         const ChipModelView& chipModel) {
  Setup s;
  s.boardId = boardId;
  s.i2cAddress = i2cAddress;
  s.i2cSpeed = i2cSpeed == 10 ? 10 : 4;
  const auto known = [&](std::uint8_t reg) { return chipModel.known ? chipModel.known(reg) : std::nullopt; };
  const auto pair = [&](std::uint8_t reg) -> std::optional<std::array<std::uint8_t, 2>> {
    const auto a = known(reg), b = known(static_cast<std::uint8_t>(reg + 1));
    if (!a || !b) return std::nullopt;
    return std::array{*a, *b};
  };
  const int count = BoardLedCount(boardId);

  if (const auto m = pair(chip::kRegMode)) {
    if (*m == chip::kModeLed && boardId != 128) s.mode = PinMode::kLed;
    if (*m == chip::kModeGpio) s.mode = PinMode::kGpio;
  }
  if (const auto d = pair(chip::kRegDirection)) {
    if (*d == chip::kDirectionInput) s.direction = Direction::kInput;
    if (*d == chip::kDirectionOutput) s.direction = Direction::kOutput;
  }
  if (const auto control = known(chip::kRegGlobalControl)) {
    const std::uint8_t code = *control & chip::kCurrentRangeMask;
    const auto typed = chipModel.typedCurrent;
    s.maxCurrentMa = typed && *typed >= 0 && *typed <= 40 && chip::CurrentRangeCode(*typed) == code
                         ? *typed
                         : chip::CurrentRangeMilliamps(code);
    s.driver = (*control & chip::kDriverPushPull) ? Driver::kPushPull : Driver::kOpenDrain;
  }
  bool anyKnown = false, whole = true;
  std::vector<std::uint8_t> brightness;
  for (int i = 0; i < count; ++i) {
    const auto v = known(static_cast<std::uint8_t>(chip::kRegBrightness + i));
    anyKnown = anyKnown || v.has_value();
    if (v) brightness.push_back(*v);
    else if (static_cast<std::size_t>(i) < chipModel.brightnessFallback.size())
      brightness.push_back(chipModel.brightnessFallback[static_cast<std::size_t>(i)]);
    else whole = false;
  }
  if (anyKnown && whole) s.brightness = std::move(brightness);
  const auto times = [&](std::uint8_t reg) -> std::optional<TimePair> {
    const auto v = known(reg);
    if (!v) return std::nullopt;
    const auto [on, off] = chip::DecodeTimeByte(*v);
    if (!chip::TimeCodeMilliseconds(on) || !chip::TimeCodeMilliseconds(off)) return std::nullopt;
    return TimePair{on, off};
  };
  s.rampTimes = times(chip::kRegRampTimes);
  s.keepTimes = times(chip::kRegKeepTimes);
  if (const auto bytes = pair(chip::kRegInterruptDisable))
    s.interruptDisabled = chip::InterruptDisabledPins(*bytes, count, boardId);
  if (const auto bytes = pair(chip::kRegOutputLevels); bytes && chip::HasOutputLevelMapping(boardId))
    s.outputHigh = chip::OutputLevelPins(*bytes, count, boardId);
  return s;
}

}  // namespace setup
