// The vocabulary spoken with the lamp board: the senders every page uses, the
// reply timer they arm, and the result callbacks that turn each reply into a
// message for the main window.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "link/ReplySink.h"
#include "platform/MessageTarget.h"

class ProtocolEngine;

// Command classes.
inline constexpr std::uint8_t kClassSystem = 1;
inline constexpr std::uint8_t kClassI2c = 16;
inline constexpr std::uint8_t kClassBoardEvent = 32;
inline constexpr std::uint8_t kClassBoot = 48;
inline constexpr std::uint8_t kClassLamp = 64;

// Commands the tool sends.
inline constexpr std::uint8_t kCmdHandshake = 1;
inline constexpr std::uint8_t kCmdVersionQuery = 32;
inline constexpr std::uint8_t kCmdReadRegisters = 1;
inline constexpr std::uint8_t kCmdWriteRegisters = 3;
inline constexpr std::uint8_t kCmdSetBootValue = 1;
inline constexpr std::uint8_t kCmdBoardData = 1;
inline constexpr std::uint8_t kCmdSetChipAddress = 10;

// The reply timer: timer 1 of the main window.
inline constexpr std::uint32_t kReplyTimerId = 1;
inline constexpr std::uint32_t kReplyTimeoutMs = 5000;

// I2C record that starts every class-16 command and reply.
inline constexpr std::size_t kI2cRecordSize = 6;
inline constexpr std::size_t kI2cFlag = 0, kI2cChipAddress = 1, kI2cFirstRegister = 2,
                             kI2cCount = 3, kI2cSpeed = 4;
// One byte carries the payload size (record + data), so a transfer holds at
// most this many data bytes.
inline constexpr std::size_t kMaxI2cTransferData = 249;

// Chip block header of (64, 1).
inline constexpr std::size_t kChipBlockHeaderSize = 4;

// Texts carried in wParam of the 329/330 notifications.
inline constexpr const char* kTextBootValueOk = "√ Set boot value successfully!";
inline constexpr const char* kTextBootValueFailed = "× Set boot value failed!";
inline constexpr const char* kTextAddressOk = "√ Lamp set IIC address successfully!";
inline constexpr const char* kTextAddressFailed = "× Lamp set IIC address failed!";

// The three strings of the version reply (1, 33); the third is the firmware
// version the window shows.
struct VersionRecord final : platform::MessagePayload {
  std::array<std::string, 3> strings;
};
// Strings end at their NUL or at the payload's end; missing ones are empty.
VersionRecord ParseVersionRecord(std::span<const std::uint8_t> payload);

// The senders of one board: its engine, and the window whose reply timer the
// timed senders arm (kNoHandle: the process's main window, looked up at each
// send). The free functions below are the process's board.
class CommandSender {
 public:
  explicit CommandSender(ProtocolEngine& engine, platform::Handle timerWindow = platform::kNoHandle)
      : engine_(engine), timerWindow_(timerWindow) {}

  int SendBootCommand(std::uint8_t cmd, const std::uint8_t* data, std::uint16_t length);
  int SendSystemCommand(std::uint8_t cmd, const std::uint8_t* byte);
  int SendChipCommand(std::uint8_t cmd, const std::uint8_t* data, std::uint16_t length);
  int SendChipCommandBlock(std::uint8_t cmd, const std::uint8_t* header, const std::uint8_t* data);
  int SendI2cRequest(std::uint8_t cmd, std::uint8_t* request);
  int SendI2cTransfer(std::uint8_t cmd, std::uint8_t* header, const std::uint8_t* data);

 private:
  int TimedSend(std::uint8_t cls, std::uint8_t cmd, std::uint16_t length, const std::uint8_t* payload);
  ProtocolEngine& engine_;
  platform::Handle timerWindow_;
};

int SendBootCommand(std::uint8_t cmd, const std::uint8_t* data, std::uint16_t length);
int SendSystemCommand(std::uint8_t cmd, const std::uint8_t* byte);
int SendChipCommand(std::uint8_t cmd, const std::uint8_t* data, std::uint16_t length);
int SendChipCommandBlock(std::uint8_t cmd, const std::uint8_t* header, const std::uint8_t* data);
int SendI2cRequest(std::uint8_t cmd, std::uint8_t* request);
int SendI2cTransfer(std::uint8_t cmd, std::uint8_t* header, const std::uint8_t* data);

// Where one board's notifications go. kNoHandle: the process's window of
// that kind (main window, update window), looked up at each reply.
struct ResultTargets {
  platform::Handle main = platform::kNoHandle;
  platform::Handle boot = platform::kNoHandle;
};

// The result callbacks: every accepted reply that is not link-level becomes a
// notification, posted on the reader thread. `payload` never reaches past the
// received frame; `payloadLengthField` is the length the frame claimed.
void DispatchResult(std::uint8_t cls, std::uint8_t cmd, std::span<const std::uint8_t> payload,
                    std::uint16_t payloadLengthField);
void DispatchResult(const ResultTargets& targets, std::uint8_t cls, std::uint8_t cmd,
                    std::span<const std::uint8_t> payload, std::uint16_t payloadLengthField);

// The result callbacks as an engine's reply sink.
class CommandSetReplies final : public ReplySink {
 public:
  explicit CommandSetReplies(ResultTargets targets = {}) : targets_(targets) {}
  void OnReply(std::uint8_t cls, std::uint8_t cmd, std::span<const std::uint8_t> payload,
               std::uint16_t payloadLengthField) override {
    DispatchResult(targets_, cls, cmd, payload, payloadLengthField);
  }

 private:
  const ResultTargets targets_;
};
