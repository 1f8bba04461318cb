#include "chip/ChipAccess.h"

#include "chip/RegisterJournal.h"
#include "link/CommandSet.h"
#include "link/LinkHost.h"
#include "link/QVCommunication.h"

int g_bDevicePresent = 0;
int g_bBoardMatched = 0;

namespace chip {

bool AccessAllowed() {
  return g_bBoardMatched == 1 && g_pCommunication.load() != nullptr && corvel::ChipRegistryPresent();
}

int WriteChipRegisters(std::uint8_t reg, std::span<const std::uint8_t> data) {
  if (!AccessAllowed() || data.empty() || data.size() > kMaxI2cTransferData) return 0;
  std::uint8_t record[kI2cRecordSize] = {1, g_i2cAddress.load(), reg, static_cast<std::uint8_t>(data.size()), 0, 0};
  const int sent = SendI2cTransfer(kCmdWriteRegisters, record, data.data());
  // Noted here, where every page's writes pass, for the register page.
  if (sent) Journal().RecordWrite(reg, data);
  return sent;
}

int ReadChipRegisters(std::uint8_t reg, std::uint8_t count) {
  if (!AccessAllowed() || count == 0) return 0;
  std::uint8_t record[kI2cRecordSize] = {1, g_i2cAddress.load(), reg, count, 0, 0};
  return SendI2cRequest(kCmdReadRegisters, record);
}

std::optional<RegisterReply> ParseRegisterReply(std::span<const std::uint8_t> payload) {
  if (payload.size() < kI2cRecordSize) return std::nullopt;
  const std::size_t count = payload[kI2cCount];
  if (payload.size() - kI2cRecordSize < count) return std::nullopt;
  return RegisterReply{payload[kI2cFirstRegister], payload.subspan(kI2cRecordSize, count)};
}

}  // namespace chip
