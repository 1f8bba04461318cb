#include "link/CommandSet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "link/FrameFormat.h"
#include "link/LinkHost.h"
#include "link/ProtocolEngine.h"
#include "link/QVProtocol.h"
#include "platform/Messages.h"

namespace {

platform::Handle MainOf(const ResultTargets& t) {
  return t.main != platform::kNoHandle ? t.main : corvel::GetMainDialogHandle();
}
platform::Handle BootOf(const ResultTargets& t) {
  return t.boot != platform::kNoHandle ? t.boot : corvel::GetBootDialogHandle();
}

std::shared_ptr<const platform::MessagePayload> CopyPayload(std::span<const std::uint8_t> payload) {
  return std::make_shared<const platform::BytesPayload>(
      std::vector<std::uint8_t>(payload.begin(), payload.end()));
}

CommandSender& ProcessSender() {
  static CommandSender sender(ProtocolEngine::Instance());
  return sender;
}

}  // namespace

// Timed send: the reply timer always measures from the latest command, and is
// armed even when the engine refused the command, so the user hears of it.
int CommandSender::TimedSend(std::uint8_t cls, std::uint8_t cmd, std::uint16_t length, const std::uint8_t* payload) {
  if (!g_pProtocol.load()) return 0;
  const int result = engine_.SendCommand(cls, cmd, length, payload);
  const platform::Handle window = timerWindow_ != platform::kNoHandle ? timerWindow_ : corvel::GetMainDialogHandle();
  platform::KillTimer(window, kReplyTimerId);
  platform::SetTimer(window, kReplyTimerId, kReplyTimeoutMs);
  return result;
}

VersionRecord ParseVersionRecord(std::span<const std::uint8_t> payload) {
  VersionRecord record;
  std::size_t pos = 0;
  for (auto& s : record.strings) {
    if (pos >= payload.size()) break;
    const auto begin = payload.begin() + static_cast<std::ptrdiff_t>(pos);
    const auto nul = std::find(begin, payload.end(), std::uint8_t{0});
    s.assign(begin, nul);
    pos += s.size() + 1;
  }
  return record;
}

int CommandSender::SendBootCommand(std::uint8_t cmd, const std::uint8_t* data, std::uint16_t length) {
  return TimedSend(kClassBoot, cmd, length, data);
}

int CommandSender::SendSystemCommand(std::uint8_t cmd, const std::uint8_t* byte) {
  return TimedSend(kClassSystem, cmd, byte ? 1 : 0, byte);
}

int CommandSender::SendChipCommand(std::uint8_t cmd, const std::uint8_t* data, std::uint16_t length) {
  return TimedSend(kClassLamp, cmd, length, data);
}

int CommandSender::SendChipCommandBlock(std::uint8_t cmd, const std::uint8_t* header, const std::uint8_t* data) {
  if (!g_pProtocol.load() || !header) return 0;
  const std::size_t n = static_cast<std::size_t>(header[2] | (header[3] << 8));
  // The header announces n bytes; a block that cannot go whole does not go.
  if (n + kChipBlockHeaderSize > frame::kMaxPayload) return 0;
  std::vector<std::uint8_t> buffer(n + kChipBlockHeaderSize, 0);
  std::memcpy(buffer.data(), header, kChipBlockHeaderSize);
  if (data && n) std::memcpy(buffer.data() + kChipBlockHeaderSize, data, n);
  return TimedSend(kClassLamp, cmd, static_cast<std::uint16_t>(buffer.size()), buffer.data());
}

int CommandSender::SendI2cRequest(std::uint8_t cmd, std::uint8_t* request) {
  if (!g_pProtocol.load() || !request) return 0;
  request[kI2cSpeed] = g_i2cSpeed.load();
  return engine_.SendCommand(kClassI2c, cmd, kI2cRecordSize, request);
}

int CommandSender::SendI2cTransfer(std::uint8_t cmd, std::uint8_t* header, const std::uint8_t* data) {
  if (!g_pProtocol.load() || !header) return 0;
  const std::size_t n = header[kI2cCount];
  // The board reads the payload size from one byte; a longer transfer would
  // wrap it, so it is refused rather than sent garbled.
  if (n > kMaxI2cTransferData) return 0;
  header[kI2cSpeed] = g_i2cSpeed.load();
  std::vector<std::uint8_t> buffer(n + kI2cRecordSize, 0);
  std::memcpy(buffer.data(), header, kI2cRecordSize);
  if (data && n) std::memcpy(buffer.data() + kI2cRecordSize, data, n);
  return engine_.SendCommand(kClassI2c, cmd, static_cast<std::uint16_t>(buffer.size()), buffer.data());
}

int SendBootCommand(std::uint8_t cmd, const std::uint8_t* data, std::uint16_t length) {
  return ProcessSender().SendBootCommand(cmd, data, length);
}
int SendSystemCommand(std::uint8_t cmd, const std::uint8_t* byte) { return ProcessSender().SendSystemCommand(cmd, byte); }
int SendChipCommand(std::uint8_t cmd, const std::uint8_t* data, std::uint16_t length) {
  return ProcessSender().SendChipCommand(cmd, data, length);
}
int SendChipCommandBlock(std::uint8_t cmd, const std::uint8_t* header, const std::uint8_t* data) {
  return ProcessSender().SendChipCommandBlock(cmd, header, data);
}
int SendI2cRequest(std::uint8_t cmd, std::uint8_t* request) { return ProcessSender().SendI2cRequest(cmd, request); }
int SendI2cTransfer(std::uint8_t cmd, std::uint8_t* header, const std::uint8_t* data) {
  return ProcessSender().SendI2cTransfer(cmd, header, data);
}

void DispatchResult(std::uint8_t cls, std::uint8_t cmd, std::span<const std::uint8_t> payload,
                    std::uint16_t payloadLengthField) {
  DispatchResult(ResultTargets{}, cls, cmd, payload, payloadLengthField);
}

void DispatchResult(const ResultTargets& targets, std::uint8_t cls, std::uint8_t cmd,
                    std::span<const std::uint8_t> payload, std::uint16_t payloadLengthField) {
  using namespace platform;
  const Handle main = MainOf(targets);
  const auto PostToMain = [main](std::uint32_t message, std::span<const std::uint8_t> bytes) {
    PostMessage(main, message, 0, CopyPayload(bytes));
  };
  const auto PostText = [main](std::uint32_t message, const char* text) {
    PostMessage(main, message, reinterpret_cast<std::uintptr_t>(text));
  };
  if (!corvel::ChipRegistryPresent()) return;
  switch (cls) {
    case kClassSystem:
      if (cmd == 33) {
        auto record = std::make_shared<VersionRecord>(ParseVersionRecord(payload));
        PostMessage(main, kMsgFirmwareVersion, 0, std::move(record));
      }
      return;
    case kClassI2c:
      switch (cmd) {
        case 2: case 18: {
          // Register data: the length must agree with the record's count, and
          // the data it announces must really be there.
          if (payload.size() <= kI2cCount) return;
          const unsigned expected = payload[kI2cCount] + kI2cRecordSize;
          if ((payloadLengthField & 0xFFu) != expected || payload.size() < expected) return;
          PostToMain(kMsgRegisterRead, payload);
          return;
        }
        case 4: case 25: PostToMain(kMsgRegisterWritten, payload); return;
        case 48: PostToMain(kMsgRegisterReadFailed, payload); return;
        default: return;
      }
    case kClassBoardEvent:
      switch (cmd) {
        case 17: PostToMain(kMsgGpioControlStatus, payload); return;
        case 18: PostToMain(kMsgBoardEvent18, payload); return;
        case 19: PostToMain(kMsgBoardEvent19, payload); return;
        case 37:
          corvel::TraceLine("interrupt signal is commig\n");
          PostToMain(kMsgInterrupt, payload);
          return;
        case 81: PostToMain(kMsgBoardEvent81, payload); return;
        default: return;
      }
    case kClassBoot:
      if (cmd == 2) {
        PostText(kMsgTextOk, kTextBootValueOk);
      } else if (cmd == 3) {
        PostText(kMsgTextFailed, kTextBootValueFailed);
        PostMessage(BootOf(targets), kMsgBootCommandFailed);  // dropped if no window
      }
      return;
    case kClassLamp:
      switch (cmd) {
        case 2: PostToMain(kMsgBoardQueryOk, payload); return;
        case 3: PostToMain(kMsgBoardQueryFailed, payload); return;
        case 5: case 17: case 24: case 25: case 33: case 40: case 56: case 65: case 68: case 71:
          PostToMain(kMsgSetDataOk, payload);
          return;
        case 6: case 18: case 34: case 41: case 57: case 66: case 69: case 72:
          PostToMain(kMsgSetDataFailed, payload);
          return;
        case 11: PostText(kMsgTextOk, kTextAddressOk); return;
        case 12: PostText(kMsgTextFailed, kTextAddressFailed); return;
        case 43: PostToMain(kMsgOpenShortOk, payload); return;
        case 44: PostToMain(kMsgOpenShortFailed, payload); return;
        default: return;
      }
    default:
      return;
  }
}
