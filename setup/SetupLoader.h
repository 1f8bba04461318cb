// Puts a setup's register writes on the chip one at a time: each write goes
// out once the board has confirmed the one before, so that the first write
// the board refuses (or never confirms) stops the rest and can be named.
// The window's "Load setup…" drives it with the acknowledgements the main
// window relays. Pure C++.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "chip/ChipAccess.h"
#include "chip/EffectChain.h"
#include "setup/SetupWrites.h"

namespace setup {

class SetupLoader {
 public:
  enum class Outcome {
    kIgnored,   // not the acknowledgement awaited
    kNextStep,  // the next write went out
    kStopped,   // the next write could not go out
    kFinished,  // every write was confirmed
  };

  explicit SetupLoader(chip::RegisterPort& port = chip::ChipPort()) : m_port(&port) {}

  // Sends the first write. False when it could not go out (no board
  // identified); true at once, and Finished(), for an empty list.
  bool Start(std::vector<RegisterWrite> writes);
  Outcome OnWriteAcknowledged(std::span<const std::uint8_t> payload);

  bool Waiting() const { return m_wait.Waiting(); }
  bool Finished() const { return m_finished; }
  // The step (0-based) that was sent but never confirmed: its wait ended
  // (a refusal, the reply timeout, a lost link, a reset) or it could not go out.
  std::optional<std::size_t> StoppedAt() const;
  std::size_t Count() const { return m_writes.size(); }
  const RegisterWrite& Write(std::size_t i) const { return m_writes[i]; }
  // "step 3 of 7 (0x11 <- 0x11, maximum current 25 mA, push-pull outputs)"
  std::string DescribeStep(std::size_t i) const;
  void Cancel();

 private:
  bool Send();

  chip::RegisterPort* m_port;
  std::vector<RegisterWrite> m_writes;
  std::size_t m_next = 0;  // the step sent last, while waiting
  bool m_finished = false;
  bool m_sendFailed = false;
  chip::ReplyWait m_wait;
};

}  // namespace setup
