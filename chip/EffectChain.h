// The chip's two self-running effects, blink and fade, are started by a chain
// of register commands: the first write goes out at once, and each further
// step only when the board confirms the one before (its acknowledgement, or
// the data of a read). The window's blink and fade pages and corvelctl drive
// the same chain; they differ only in how the board's answers reach it.
// Pure C++.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

#include "chip/ChipAccess.h"

namespace chip {

// Texts of the pages, shared with corvelctl so both refuse alike.
inline constexpr const char* kZeroTimeWarning = "Please ensure that all time parameters are not 0ms !";
inline constexpr const char* kWarningCaption = "Warning";
inline constexpr const char* kBlinkResetQuestion =
    "Blink go needs to perform software reset again. Do you want to continue ?";
// Three leading blanks and a full-width exclamation mark, as the effect
// dialog shows it.
inline constexpr const char* kBlinkRunningMessage = "   Blink mode is running！";

// What the chains write besides the effect control and the enable bits of
// register 0x11 (RegisterMap.h).
inline constexpr std::array<std::uint8_t, 2> kBlinkDirection = {0x03, 0x0F};  // 0x04, 0x05
inline constexpr std::array<std::uint8_t, 2> kFadeDirection = {0x00, 0x00};   // 0x04, 0x05
inline constexpr std::array<std::uint8_t, 2> kFadeOnLevels = {0x03, 0x0F};    // 0x02, 0x03
inline constexpr std::array<std::uint8_t, 2> kFadeOffLevels = {0x00, 0x00};   // 0x02, 0x03

// True when any of the time codes is 0 ("0ms"): the effects refuse to start.
bool AnyZeroTime(std::initializer_list<std::uint8_t> codes);

// Where a chain's commands go. The chip (through the gate of ChipAccess) by
// default; tests put a recorder in its place.
class RegisterPort {
 public:
  virtual ~RegisterPort() = default;
  // 1 when the command went out, 0 when not.
  virtual int Write(std::uint8_t reg, std::span<const std::uint8_t> data) = 0;
  virtual int Read(std::uint8_t reg, std::uint8_t count) = 0;
};
RegisterPort& ChipPort();

enum class Effect { kBlink, kFadeOn, kFadeOff };

class EffectChain {
 public:
  // What the chain waits for now.
  enum class Step {
    kIdle,               // not started, finished, or stopped
    kEffectStarted,      // the acknowledgement of 0x14 <- 0xFF
    kDirectionWritten,   // the acknowledgement of 0x04..0x05
    kControlRead,        // the data of register 0x11
    kControlWritten,     // the acknowledgement of 0x11 with the enable bits
    kLevelsWritten,      // fade only: the acknowledgement of 0x02..0x03
  };
  enum class Outcome {
    kIgnored,   // not the answer the chain waits for: nothing changed
    kNextStep,  // the next command went out
    kStopped,   // the next command could not go out; the chain is idle
    kFinished,  // the effect runs; the chain is idle
  };

  explicit EffectChain(RegisterPort& port = ChipPort()) : m_port(&port) {}

  // Writes 0xFF to the effect control. False when it could not go out (no
  // board identified): the chain then stays idle. Starting again abandons a
  // chain under way; late answers to it are ignored.
  bool Start(Effect effect);
  // A relayed write acknowledgement or read reply (the I2C record and the
  // data). The chain acts only on the one answer it waits for.
  Outcome OnWriteAcknowledged(std::span<const std::uint8_t> payload);
  Outcome OnRegisterRead(std::span<const std::uint8_t> payload);
  void Cancel();

  // A step whose wait was ended (failure reply, timeout, link failure,
  // reset) leaves the chain idle: nothing it does later rests on an answer
  // that may be someone else's.
  Step CurrentStep() const { return m_wait.Waiting() ? m_step : Step::kIdle; }
  Effect CurrentEffect() const { return m_effect; }
  bool Waiting() const { return CurrentStep() != Step::kIdle; }

 private:
  Outcome WriteNext(Step next, std::uint8_t reg, std::span<const std::uint8_t> data);
  Outcome ReadNext(Step next, std::uint8_t reg);
  Outcome Finish();

  RegisterPort* m_port;
  Effect m_effect = Effect::kBlink;
  Step m_step = Step::kIdle;
  ReplyWait m_wait;
};

// "the acknowledgement of register 0x04" and the like, for messages about a
// chain that stalled.
std::string DescribeStep(EffectChain::Step step);

}  // namespace chip
