#include "chip/EffectChain.h"

#include <algorithm>
#include <cstdio>

#include "chip/RegisterMap.h"

namespace chip {
namespace {

class GatedChipPort final : public RegisterPort {
 public:
  int Write(std::uint8_t reg, std::span<const std::uint8_t> data) override { return WriteChipRegisters(reg, data); }
  int Read(std::uint8_t reg, std::uint8_t count) override { return ReadChipRegisters(reg, count); }
};

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v);
  return buf;
}

std::string StepLabel(Effect effect, EffectChain::Step step) {
  const char* name = effect == Effect::kBlink ? "blink" : effect == Effect::kFadeOn ? "fade on" : "fade off";
  return std::string(name) + ": " + DescribeStep(step);
}

}  // namespace

bool AnyZeroTime(std::initializer_list<std::uint8_t> codes) {
  return std::ranges::any_of(codes, [](std::uint8_t c) { return c == 0; });
}

RegisterPort& ChipPort() {
  static GatedChipPort port;
  return port;
}

bool EffectChain::Start(Effect effect) {
  m_effect = effect;
  return WriteNext(Step::kEffectStarted, kRegEffectControl, std::array{kEffectStart}) == Outcome::kNextStep;
}

void EffectChain::Cancel() {
  m_step = Step::kIdle;
  m_wait.Clear();
}

EffectChain::Outcome EffectChain::WriteNext(Step next, std::uint8_t reg, std::span<const std::uint8_t> data) {
  // Wait before sending: the answer can only come after the command, and the
  // state must already name it when it does.
  m_step = next;
  m_wait.Expect(reg, StepLabel(m_effect, next));
  if (m_port->Write(reg, data) == 1) return Outcome::kNextStep;
  Cancel();
  return Outcome::kStopped;
}

EffectChain::Outcome EffectChain::ReadNext(Step next, std::uint8_t reg) {
  m_step = next;
  m_wait.Expect(reg, StepLabel(m_effect, next));
  if (m_port->Read(reg, 1) == 1) return Outcome::kNextStep;
  Cancel();
  return Outcome::kStopped;
}

EffectChain::Outcome EffectChain::Finish() {
  Cancel();
  return Outcome::kFinished;
}

EffectChain::Outcome EffectChain::OnWriteAcknowledged(std::span<const std::uint8_t> payload) {
  if (CurrentStep() == Step::kIdle || m_step == Step::kControlRead) return Outcome::kIgnored;
  const auto reply = ParseRegisterReply(payload);
  if (!reply || reply->data.empty()) return Outcome::kIgnored;
  const bool blink = m_effect == Effect::kBlink;
  // Blink goes on only for the acknowledgement that shows its own data: the
  // 0xFF it wrote to the effect control, and bit 7 in register 0x11.
  if (blink && m_step == Step::kEffectStarted && reply->Value() != kEffectStart) return Outcome::kIgnored;
  if (blink && m_step == Step::kControlWritten && !(reply->Value() & kBlinkEnableBits)) return Outcome::kIgnored;
  if (!m_wait.Take(*reply)) return Outcome::kIgnored;

  switch (m_step) {
    case Step::kEffectStarted:
      return WriteNext(Step::kDirectionWritten, kRegDirection, blink ? kBlinkDirection : kFadeDirection);
    case Step::kDirectionWritten: return ReadNext(Step::kControlRead, kRegGlobalControl);
    case Step::kControlWritten:
      if (blink) return Finish();
      return WriteNext(Step::kLevelsWritten, kRegOutputLevels,
                       m_effect == Effect::kFadeOn ? kFadeOnLevels : kFadeOffLevels);
    case Step::kLevelsWritten: return Finish();
    case Step::kIdle:
    case Step::kControlRead: break;
  }
  return Outcome::kIgnored;
}

EffectChain::Outcome EffectChain::OnRegisterRead(std::span<const std::uint8_t> payload) {
  if (CurrentStep() != Step::kControlRead) return Outcome::kIgnored;
  const auto reply = ParseRegisterReply(payload);
  if (!reply || !m_wait.Take(*reply)) return Outcome::kIgnored;
  const std::uint8_t bits = m_effect == Effect::kBlink ? kBlinkEnableBits : kFadeEnableBits;
  const std::uint8_t value = static_cast<std::uint8_t>(reply->Value() | bits);
  return WriteNext(Step::kControlWritten, kRegGlobalControl, std::array{value});
}

std::string DescribeStep(EffectChain::Step step) {
  switch (step) {
    case EffectChain::Step::kIdle: return "nothing";
    case EffectChain::Step::kEffectStarted: return "the acknowledgement of register " + Hex2(kRegEffectControl);
    case EffectChain::Step::kDirectionWritten: return "the acknowledgement of register " + Hex2(kRegDirection);
    case EffectChain::Step::kControlRead: return "the value of register " + Hex2(kRegGlobalControl);
    case EffectChain::Step::kControlWritten: return "the acknowledgement of register " + Hex2(kRegGlobalControl);
    case EffectChain::Step::kLevelsWritten: return "the acknowledgement of register " + Hex2(kRegOutputLevels);
  }
  return "nothing";
}

}  // namespace chip
