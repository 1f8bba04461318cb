// Reading and writing the chip's registers through the bridge: the one place
// that builds the I2C record of a register command and decides whether the
// command may go out at all. Every page, the register panel and corvelctl
// use it. Pure C++.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Link flags. The main window (or corvelctl's session) keeps them: the board
// is there and answered the handshake; its id equals the chip board chosen,
// so register commands may be sent.
#include "session/LinkFlags.h"  // g_bDevicePresent, g_bBoardMatched

namespace chip {

// Register commands go out only while the board is identified and the
// transport manager and the chip registry exist.
bool AccessAllowed();

// (16, 3): `data` to the consecutive registers from `reg`, at the current
// chip address and bus speed. 1 when queued, 0 when nothing was sent (gate
// closed, more data than one transfer carries, link refused).
int WriteChipRegisters(std::uint8_t reg, std::span<const std::uint8_t> data);
// (16, 1): `count` registers from `reg`. 1 when queued, 0 when not sent.
int ReadChipRegisters(std::uint8_t reg, std::uint8_t count);

// A register command as the program sent it: the chip address it went to,
// its first register, and whether it wrote.
struct SentTransfer {
  std::uint8_t address = 0;
  std::uint8_t reg = 0;
  bool write = false;
};
// The last register command sent (UI thread, or corvelctl's one thread);
// nothing before the first.
std::optional<SentTransfer> LastSentTransfer();
// What a failure answer (16, 48) tells a person: the chip did not answer at
// the address the program sent. Its reply is not trusted to name the address
// (the bridge's failure answer carries no defined record), and a wrong
// address is only one cause among others. The window and corvelctl say it
// alike.
std::string ChipDidNotAnswerText(const SentTransfer& sent);

// Sees each register command as it goes out, a write before the journal
// notes it (so the journal still holds what the chip held before); for a
// read, `data` is empty and `count` says how many. Empty: none. The window's
// recorder sets it, on the UI thread.
using RegisterObserver =
    std::function<void(bool write, std::uint8_t reg, std::span<const std::uint8_t> data, std::uint8_t count)>;
void SetRegisterObserver(RegisterObserver observer);

// The I2C record and data of a read reply or a write acknowledgement.
struct RegisterReply {
  std::uint8_t first = 0;              // first register
  std::span<const std::uint8_t> data;  // the registers' values, first one first
  std::uint8_t Value(std::size_t i = 0) const { return data[i]; }
  bool Covers(std::uint8_t reg) const { return reg >= first && reg - first < static_cast<int>(data.size()); }
};
// Nothing when the payload is shorter than the record and the data it
// announces: a reply is never read past its end.
std::optional<RegisterReply> ParseRegisterReply(std::span<const std::uint8_t> payload);

// What a page waits for: the reply to its own read (or the acknowledgement
// of its own write) of one register. A page acts on a reply only while it
// waits for it, so replies to other pages' requests change nothing.
//
// Every wait ends when its answer can no longer be told from another's: on
// a failure reply, on the reply timeout, on a link failure and on a reset
// (EndReplyWaits). A reply for the same register that comes afterwards was
// asked for by someone else and is not taken. Waits live on the UI thread
// (or corvelctl's one thread), never on the reader thread.
class ReplyWait {
 public:
  // `what` names the step for a person: "blink: the value of register 0x11".
  explicit ReplyWait(std::string what = {});
  ~ReplyWait();
  ReplyWait(const ReplyWait&) = delete;
  ReplyWait& operator=(const ReplyWait&) = delete;

  void Expect(std::uint8_t reg, std::string what = {});
  void Clear() { m_reg.reset(); }
  bool Waiting() const;
  // The awaited register while waiting.
  std::optional<std::uint8_t> Register() const { return Waiting() ? m_reg : std::nullopt; }
  // The register of a wait that EndReplyWaits ended (and nothing took or
  // cleared since): a page that reports the failure itself uses it.
  std::optional<std::uint8_t> Ended() const { return m_reg && !Waiting() ? m_reg : std::nullopt; }
  const std::string& What() const { return m_what; }
  // True (and no longer waiting) when `reply` is for the awaited register.
  bool Take(const RegisterReply& reply) {
    if (!Waiting() || reply.first != *m_reg || reply.data.empty()) return false;
    m_reg.reset();
    return true;
  }

 private:
  friend std::vector<std::string> EndReplyWaits();
  friend std::vector<std::string> ReplyWaitsUnderWay();
  std::optional<std::uint8_t> m_reg;
  std::uint64_t m_era = 0;
  std::string m_what;
};

// Ends every wait under way; returns what each was waiting for, for the
// message that tells the user which step failed.
std::vector<std::string> EndReplyWaits();
// What the waits under way are waiting for (none: empty); for checks that
// every wait ends.
std::vector<std::string> ReplyWaitsUnderWay();

}  // namespace chip
