#include "cli/EffectCommands.h"

#include <array>
#include <chrono>

#include "chip/ChipAccess.h"
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

// Holds the chain's next command until the session sends it, so that the
// session can send it again when its answer is lost, as it does for every
// register command.
class HeldPort final : public chip::RegisterPort {
 public:
  int Write(std::uint8_t reg, std::span<const std::uint8_t> data) override {
    read_ = false;
    reg_ = reg;
    data_.assign(data.begin(), data.end());
    return 1;
  }
  int Read(std::uint8_t reg, std::uint8_t count) override {
    read_ = true;
    reg_ = reg;
    count_ = count;
    return 1;
  }
  int Send() const { return read_ ? chip::ReadChipRegisters(reg_, count_) : chip::WriteChipRegisters(reg_, data_); }
  std::uint8_t Register() const { return reg_; }

 private:
  bool read_ = false;
  std::uint8_t reg_ = 0;
  std::uint8_t count_ = 0;
  std::vector<std::uint8_t> data_;
};

// Sends the chain's commands and hands it the board's answers until it has
// run through; false (with `error`) when the board stops answering or a step
// fails.
bool RunChain(Session& session, chip::Effect effect, std::string& error) {
  if (!chip::AccessAllowed()) {
    error = "The board is not identified: register access is refused.";
    return false;
  }
  HeldPort port;
  chip::EffectChain chain(port);
  chain.Start(effect);
  static const std::vector<std::uint8_t> kNone;
  while (chain.Waiting()) {
    const std::string awaited = chip::DescribeStep(chain.CurrentStep());
    const std::uint8_t reg = port.Register();
    bool failed = false;
    // The chain takes only the answer it waits for; a late one to a step
    // already done (asked for twice) passes by.
    const auto isAnswer = [&](const platform::Message& msg) {
      const auto* bytes = msg.Bytes();
      const auto payload = bytes ? std::span<const std::uint8_t>(*bytes) : std::span<const std::uint8_t>(kNone);
      if (msg.id == platform::kMsgRegisterReadFailed) {
        // The failure reply carries the I2C record of what failed, if any.
        failed = payload.size() <= kI2cFirstRegister || payload[kI2cFirstRegister] == reg;
        return failed;
      }
      if (msg.id == platform::kMsgRegisterWritten)
        return chain.OnWriteAcknowledged(payload) != chip::EffectChain::Outcome::kIgnored;
      if (msg.id == platform::kMsgRegisterRead)
        return chain.OnRegisterRead(payload) != chip::EffectChain::Outcome::kIgnored;
      return false;
    };
    if (!session.Ask([&] { return port.Send(); }, isAnswer, error, "effect step awaiting " + awaited)) {
      chain.Cancel();
      return false;
    }
    if (failed) {
      error = "The board could not carry out the effect's step: its failure reply (16, 48) came while waiting for " +
              awaited + "." +
              (chip::LastSentTransfer() ? " " + chip::ChipDidNotAnswerText(*chip::LastSentTransfer()) : std::string());
      return false;
    }
  }
  return true;
}

bool UploadEffect(Session& session, int ledCount, std::string& error) {
  const auto block = chip::EffectDataBlock(ledCount);
  // As the window's effect dialog sends it: a chip board has been chosen
  // for the identified board by then.
  const auto header = chip::EffectBlockHeader(kBoardKindChosen, block.size());
  const auto m = session.Ask([&] { return SendChipCommandBlock(kCmdBoardData, header.data(), block.data()); },
                             [](const platform::Message& msg) {
                               return msg.id == platform::kMsgBoardQueryOk || msg.id == platform::kMsgBoardQueryFailed;
                             },
                             error, "effect data");
  if (!m) return false;
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
  if (!RunChain(session, r.effect, error)) return false;
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
