#include "cli/EffectCommands.h"

#include <array>
#include <chrono>

#include "chip/EffectBlock.h"
#include "chip/RegisterMap.h"
#include "cli/Session.h"
#include "link/BoardIds.h"
#include "link/CommandSet.h"
#include "link/QVCommunication.h"
#include "platform/Messages.h"

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

// Waits for the board's answers and hands them to the chain until it has
// run through; false (with `error`) when the board stops answering.
bool RunChain(Session& session, chip::EffectChain& chain, chip::Effect effect, std::string& error) {
  if (!chain.Start(effect)) {
    error = chip::AccessAllowed() ? "The link refused the first command of the effect (too many commands unanswered)."
                                  : "The board is not identified: register access is refused.";
    return false;
  }
  const auto timeout = std::chrono::milliseconds(session.TimeoutMs());
  while (chain.Waiting()) {
    const std::string awaited = chip::DescribeStep(chain.CurrentStep());
    const auto m = session.Pump(
        [](const platform::Message& msg) {
          return msg.id == platform::kMsgRegisterWritten || msg.id == platform::kMsgRegisterRead ||
                 msg.id == platform::kMsgRegisterReadFailed ||
                 (msg.id == platform::kMsgLinkState && LinkStateIsDown(static_cast<int>(msg.wParam)));
        },
        timeout);
    if (!m) {
      error = "No answer from the board within " + std::to_string(timeout.count()) + " ms while waiting for " +
              awaited + ". The board may be frozen: re-plug it and try again.";
      return false;
    }
    if (m->id == platform::kMsgLinkState) {
      const char* text = LinkStateText(static_cast<int>(m->wParam));
      error = std::string("Link lost while starting the effect:") + (text ? text : " unknown link state");
      return false;
    }
    if (m->id == platform::kMsgRegisterReadFailed) {
      error = "The board could not read register 0x11 of the chip. Check the chip address.";
      return false;
    }
    static const std::vector<std::uint8_t> kNone;
    const auto* bytes = m->Bytes();
    const auto payload = bytes ? std::span<const std::uint8_t>(*bytes) : std::span<const std::uint8_t>(kNone);
    const auto outcome = m->id == platform::kMsgRegisterWritten ? chain.OnWriteAcknowledged(payload)
                                                                : chain.OnRegisterRead(payload);
    if (outcome == chip::EffectChain::Outcome::kStopped) {
      error = "The link refused the next command of the effect (too many commands unanswered).";
      return false;
    }
  }
  return true;
}

bool UploadEffect(Session& session, int ledCount, std::string& error) {
  const auto block = chip::EffectDataBlock(ledCount);
  const auto header = chip::EffectBlockHeader(kBoardKindRoundPage, block.size());
  if (!SendChipCommandBlock(kCmdBoardData, header.data(), block.data())) {
    error = "The link refused the effect data (too many commands unanswered).";
    return false;
  }
  const auto m = session.Pump(
      [](const platform::Message& msg) {
        return msg.id == platform::kMsgBoardQueryOk || msg.id == platform::kMsgBoardQueryFailed;
      },
      std::chrono::milliseconds(session.TimeoutMs()));
  if (!m) {
    error = "No answer to the effect data within " + std::to_string(session.TimeoutMs()) + " ms.";
    return false;
  }
  if (m->id == platform::kMsgBoardQueryFailed) {
    error = "The board refused the effect data.";
    return false;
  }
  return true;
}

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
    std::string value;
    if (a.size() > name.size()) {
      value = a.substr(name.size() + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return name + " needs a time";
    }
    const auto code = chip::TimeCodeFromText(value);
    if (!code) return name + " must be one of " + TimeList() + ", not '" + value + "'";
    // The page's own warning: an effect with a zero time does not start.
    if (*code == 0) return chip::kZeroTimeWarning;
    request.*kTimeOptions[which].code = *code;
    given[which] = true;
  }
  std::string missing;
  for (std::size_t k = 0; k < kTimeOptions.size(); ++k)
    if (!given[k] && (blink || !kTimeOptions[k].blinkOnly)) missing += std::string(missing.empty() ? "" : ", ") + kTimeOptions[k].name;
  if (!missing.empty()) return args[0] + " needs " + missing + " (one of " + TimeList() + " each)";
  return std::nullopt;
}

bool RunEffect(Session& session, const EffectRequest& r, int ledCount, bool json, std::ostream& out,
               std::string& error) {
  if (r.reset && !session.WriteRegisters(chip::kRegSoftwareReset, std::array{chip::kSoftwareResetValue}, error))
    return false;
  if (!session.WriteRegisters(chip::kRegRampTimes, std::array{chip::TimeByte(r.rampOn, r.rampOff)}, error))
    return false;
  if (IsBlink(r) && !session.WriteRegisters(chip::kRegKeepTimes, std::array{chip::TimeByte(r.keepOn, r.keepOff)}, error))
    return false;
  chip::EffectChain chain;
  if (!RunChain(session, chain, r.effect, error)) return false;
  // As the window's effect dialog does when it opens.
  if (IsBlink(r) && !UploadEffect(session, ledCount, error)) return false;

  const char* what = IsBlink(r) ? "blink" : r.effect == chip::Effect::kFadeOn ? "fade on" : "fade off";
  if (json) {
    out << "{\"effect\":\"" << what << "\",\"ramp_on_ms\":" << Ms(r.rampOn) << ",\"ramp_off_ms\":" << Ms(r.rampOff);
    if (IsBlink(r)) out << ",\"keep_on_ms\":" << Ms(r.keepOn) << ",\"keep_off_ms\":" << Ms(r.keepOff);
    out << "}\n";
  } else {
    out << (IsBlink(r) ? "Blink mode is running" : r.effect == chip::Effect::kFadeOn ? "Fading on" : "Fading off")
        << ": ramp on " << Ms(r.rampOn) << " ms, ramp off " << Ms(r.rampOff) << " ms";
    if (IsBlink(r)) out << ", keep on " << Ms(r.keepOn) << " ms, keep off " << Ms(r.keepOff) << " ms";
    out << ".\n";
  }
  return true;
}

}  // namespace cli
