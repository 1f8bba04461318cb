#include "cli/EffectCommands.h"

#include <array>
#include <chrono>

#include "chip/RegisterMap.h"
#include "corvel/Errors.h"

namespace cli {
namespace {

struct TimeOption {
  const char* name;
  std::uint8_t EffectRequest::*code;
  bool blinkOnly;
};
constexpr std::array<TimeOption, 4> kTimeOptions = {{
    {"--ramp-on", &EffectRequest::rampOn, false},
    {"--ramp-off", &EffectRequest::rampOff, false},
    {"--keep-on", &EffectRequest::keepOn, true},
    {"--keep-off", &EffectRequest::keepOff, true},
}};

std::string TimeList() {
  std::string list;
  for (std::size_t i = 1; i < chip::kTimeTexts.size(); ++i) list += std::string(i > 1 ? ", " : "") + chip::kTimeTexts[i];
  return list;
}

int Ms(std::uint8_t code) { return chip::TimeCodeMilliseconds(code).value_or(0); }

bool IsBlink(const EffectRequest& r) { return r.effect == chip::Effect::kBlink; }

}  // namespace

std::optional<std::string> ParseEffectArgs(const std::vector<std::string>& args, EffectRequest& request) {
  request = EffectRequest{};
  const bool blink = args.at(0) == "blink";
  std::size_t i = 1;
  if (!blink) {
    if (args.size() < 2 || (args[1] != "on" && args[1] != "off")) return "usage: fade on|off --ramp-on T --ramp-off T";
    request.effect = args[1] == "on" ? chip::Effect::kFadeOn : chip::Effect::kFadeOff;
    i = 2;
  }
  std::array<bool, kTimeOptions.size()> given{};
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (blink && a == "--reset") {
      if (request.reset) return "--reset is given twice; give it once";
      request.reset = true;
      continue;
    }
    std::size_t which = kTimeOptions.size();
    for (std::size_t k = 0; k < kTimeOptions.size(); ++k) {
      const std::string name = kTimeOptions[k].name;
      if ((a == name || a.rfind(name + "=", 0) == 0) && (blink || !kTimeOptions[k].blinkOnly)) which = k;
    }
    if (which == kTimeOptions.size()) {
      if (a.rfind("-", 0) == 0) return "unknown option '" + a + "' for " + args[0];
      return "unexpected argument '" + a + "' for " + args[0];
    }
    const std::string name = kTimeOptions[which].name;
    // Which of two times was meant is not for us to guess.
    if (given[which]) return name + " is given twice; give each time once";
    std::string value;
    if (a.size() > name.size()) {
      value = a.substr(name.size() + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return name + " needs a time";
    }
    try {
      request.*kTimeOptions[which].code = corvel::EffectTimeCode(value, name);
    } catch (const corvel::UsageError& e) {
      return std::string(e.what());
    }
    given[which] = true;
  }
  std::string missing;
  for (std::size_t k = 0; k < kTimeOptions.size(); ++k)
    if (!given[k] && (blink || !kTimeOptions[k].blinkOnly)) missing += std::string(missing.empty() ? "" : ", ") + kTimeOptions[k].name;
  if (!missing.empty()) return args[0] + " needs " + missing + " (one of " + TimeList() + " each)";
  return std::nullopt;
}

void PrintEffect(const EffectRequest& r, bool json, std::ostream& out) {
  const char* what = IsBlink(r) ? "blink" : r.effect == chip::Effect::kFadeOn ? "fade on" : "fade off";
  if (json) {
    nlohmann::ordered_json j = {{"effect", what}, {"ramp_on_ms", Ms(r.rampOn)}, {"ramp_off_ms", Ms(r.rampOff)}};
    if (IsBlink(r)) {
      j["keep_on_ms"] = Ms(r.keepOn);
      j["keep_off_ms"] = Ms(r.keepOff);
    }
    out << j.dump() << "\n";
  } else {
    out << (IsBlink(r) ? "Blink mode is running" : r.effect == chip::Effect::kFadeOn ? "Fading on" : "Fading off")
        << ": ramp on " << Ms(r.rampOn) << " ms, ramp off " << Ms(r.rampOff) << " ms";
    if (IsBlink(r)) out << ", keep on " << Ms(r.keepOn) << " ms, keep off " << Ms(r.keepOff) << " ms";
    out << ".\n";
  }
}

}  // namespace cli
