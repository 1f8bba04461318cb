#include "chip/ChipAccess.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "chip/RegisterJournal.h"
#include "link/CommandSet.h"
#include "link/LinkHost.h"
#include "link/QVCommunication.h"


namespace chip {

namespace {
RegisterObserver& Observer() {
  static RegisterObserver observer;
  return observer;
}
}  // namespace

void SetRegisterObserver(RegisterObserver observer) { Observer() = std::move(observer); }

bool AccessAllowed() {
  return g_bBoardMatched == 1 && g_pCommunication.load() != nullptr && corvel::ChipRegistryPresent();
}

namespace {
std::optional<SentTransfer>& LastSent() {
  static std::optional<SentTransfer> last;
  return last;
}
}  // namespace

std::optional<SentTransfer> LastSentTransfer() { return LastSent(); }

std::string ChipDidNotAnswerText(const SentTransfer& sent) {
  char buf[224];
  std::snprintf(buf, sizeof buf,
                "No answer from the chip at 0x%02X, the address the program sent (%s register 0x%02X). The chip "
                "address may be wrong (check it), or the chip may lack power or be badly connected.",
                sent.address, sent.write ? "writing" : "reading", sent.reg);
  return buf;
}

int WriteChipRegisters(std::uint8_t reg, std::span<const std::uint8_t> data) {
  if (!AccessAllowed() || data.empty() || data.size() > kMaxI2cTransferData) return 0;
  const std::uint8_t address = g_i2cAddress.load();
  std::uint8_t record[kI2cRecordSize] = {1, address, reg, static_cast<std::uint8_t>(data.size()), 0, 0};
  const int sent = SendI2cTransfer(kCmdWriteRegisters, record, data.data());
  if (sent) LastSent() = SentTransfer{address, reg, true};
  if (sent && Observer()) Observer()(true, reg, data, static_cast<std::uint8_t>(data.size()));
  // Noted here, where every page's writes pass, for the register page.
  if (sent) Journal().RecordWrite(reg, data);
  return sent;
}

int ReadChipRegisters(std::uint8_t reg, std::uint8_t count) {
  if (!AccessAllowed() || count == 0) return 0;
  const std::uint8_t address = g_i2cAddress.load();
  std::uint8_t record[kI2cRecordSize] = {1, address, reg, count, 0, 0};
  const int sent = SendI2cRequest(kCmdReadRegisters, record);
  if (sent) LastSent() = SentTransfer{address, reg, false};
  if (sent && Observer()) Observer()(false, reg, {}, count);
  return sent;
}

namespace {

// The waits alive now, and the era they are measured against: a wait begun
// in an earlier era was ended by EndReplyWaits.
struct WaitRegistry {
  std::mutex mutex;
  std::vector<ReplyWait*> waits;
  std::uint64_t era = 1;
};
WaitRegistry& Waits() {
  static WaitRegistry registry;
  return registry;
}

std::string RegisterName(std::uint8_t reg) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "the answer for register 0x%02X", reg);
  return buf;
}

}  // namespace

ReplyWait::ReplyWait(std::string what) : m_what(std::move(what)) {
  WaitRegistry& r = Waits();
  std::lock_guard lock(r.mutex);
  r.waits.push_back(this);
}

ReplyWait::~ReplyWait() {
  WaitRegistry& r = Waits();
  std::lock_guard lock(r.mutex);
  std::erase(r.waits, this);
}

void ReplyWait::Expect(std::uint8_t reg, std::string what) {
  WaitRegistry& r = Waits();
  std::lock_guard lock(r.mutex);
  m_reg = reg;
  m_era = r.era;
  if (!what.empty()) m_what = std::move(what);
}

bool ReplyWait::Waiting() const {
  if (!m_reg) return false;
  WaitRegistry& r = Waits();
  std::lock_guard lock(r.mutex);
  return m_era == r.era;
}

std::vector<std::string> EndReplyWaits() {
  WaitRegistry& r = Waits();
  std::lock_guard lock(r.mutex);
  std::vector<std::string> ended;
  for (const ReplyWait* w : r.waits) {
    const auto reg = w->m_reg;
    if (!reg || w->m_era != r.era) continue;
    ended.push_back(w->m_what.empty() ? RegisterName(*reg) : w->m_what);
  }
  ++r.era;
  return ended;
}

std::vector<std::string> ReplyWaitsUnderWay() {
  WaitRegistry& r = Waits();
  std::lock_guard lock(r.mutex);
  std::vector<std::string> waiting;
  for (const ReplyWait* w : r.waits)
    if (w->m_reg && w->m_era == r.era) waiting.push_back(w->m_what.empty() ? RegisterName(*w->m_reg) : w->m_what);
  return waiting;
}

std::optional<RegisterReply> ParseRegisterReply(std::span<const std::uint8_t> payload) {
  if (payload.size() < kI2cRecordSize) return std::nullopt;
  const std::size_t count = payload[kI2cCount];
  if (payload.size() - kI2cRecordSize < count) return std::nullopt;
  return RegisterReply{payload[kI2cFirstRegister], payload.subspan(kI2cRecordSize, count)};
}

}  // namespace chip
