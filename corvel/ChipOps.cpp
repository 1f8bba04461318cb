#include "corvel/ChipOps.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "chip/ChipAccess.h"
#include "chip/EffectBlock.h"
#include "corvel/Errors.h"
#include "corvel/Session.h"
#include "link/CommandSet.h"
#include "link/LinkHost.h"
#include "platform/Messages.h"

namespace corvel {

void ThrowSessionError(const std::string& text) {
  if (text.rfind("No answer to ", 0) == 0 || text.rfind("No interrupt report within", 0) == 0 ||
      text.rfind("No lamp board arrived within", 0) == 0)
    throw TimeoutError(text);
  if (text.rfind("The board refused", 0) == 0 || text.rfind("The board could not", 0) == 0 ||
      text.rfind("No answer from the chip", 0) == 0)
    throw ChipError(text);
  throw LinkError(text);
}

void ThrowError(ErrorKind kind, const std::string& text) {
  switch (kind) {
    case ErrorKind::kUsage: throw UsageError(text);
    case ErrorKind::kChip: throw ChipError(text);
    case ErrorKind::kTimeout: throw TimeoutError(text);
    case ErrorKind::kLink: break;
  }
  throw LinkError(text);
}

namespace {

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v);
  return buf;
}

}  // namespace

void CheckLeds(const std::vector<int>& leds, const ChipBoardEntry& board) {
  for (int led : leds)
    if (led < 0 || led >= board.ledCount)
      throw UsageError("LED " + std::to_string(led) + " is not on this board: the " + board.name + " has LEDs 0.." +
                       std::to_string(board.ledCount - 1));
}

void CheckPins(const PinSettings& settings, const ChipBoardEntry& board) {
  for (const auto& [pin, value] : settings)
    if (pin < 0 || pin >= board.ledCount)
      throw UsageError("pin " + std::to_string(pin) + " is not on this board: the " + board.name + " has pins 0.." +
                       std::to_string(board.ledCount - 1));
}

void CheckOutputMapping(const ChipBoardEntry& board) {
  if (!chip::HasOutputLevelMapping(board.boardId))
    throw ChipError("The " + std::string(board.name) + " (board " + std::to_string(board.boardId) +
                    ") has no output level mapping for its pins: nothing written. 'reg write 0x02 P0 P1' "
                    "sets the chip's output registers directly.");
}

void CheckSetupBoard(const setup::Setup& s, const std::string& file, const ChipBoardEntry& board) {
  if (board.boardId != s.boardId)
    throw ChipError(file + " is for the " + std::string(setup::BoardName(s.boardId)) + " (board " +
                    std::to_string(s.boardId) + "); the board attached is the " + board.name + " (board " +
                    std::to_string(board.boardId) + "): nothing written");
}

std::vector<std::uint8_t> ReadRegisters(Session& session, std::uint8_t reg, std::uint8_t count) {
  if (count == 0 || reg + count > 256) throw UsageError("REG + COUNT runs past register 0xFF");
  std::vector<std::uint8_t> values;
  std::string error;
  if (!session.ReadRegisters(reg, count, values, error)) ThrowSessionError(error);
  return values;
}

void WriteRegisters(Session& session, std::uint8_t reg, std::span<const std::uint8_t> data) {
  if (data.empty() || data.size() > kMaxI2cTransferData)
    throw UsageError("A register write carries 1 to " + std::to_string(kMaxI2cTransferData) + " bytes.");
  if (reg + data.size() > 256) throw UsageError("the bytes run past register 0xFF");
  std::string error;
  if (!session.WriteRegisters(reg, data, error)) ThrowSessionError(error);
}

std::pair<std::uint8_t, std::uint8_t> ModifyRegister(Session& session, std::uint8_t reg, std::uint8_t mask,
                                                     std::uint8_t bits) {
  const std::uint8_t before = ReadRegisters(session, reg, 1)[0];
  const auto after = static_cast<std::uint8_t>((before & ~mask) | (bits & mask));
  WriteRegisters(session, reg, std::array{after});
  return {before, after};
}

namespace {

// The LED state the chip is told: effect stopped, then the whole block.
void WriteBrightnessBlock(Session& session, std::span<const std::uint8_t> block) {
  WriteRegisters(session, chip::kRegEffectControl, std::array{chip::kEffectStop});
  WriteRegisters(session, chip::kRegBrightness, block);
}

}  // namespace

void SetLeds(Session& session, const ChipBoardEntry& board, std::uint8_t brightness, const std::vector<int>& leds) {
  CheckLeds(leds, board);
  const int count = board.ledCount;
  std::vector<std::uint8_t> block(static_cast<std::size_t>(count), brightness);
  if (!leds.empty()) {
    // The LEDs not named keep what the chip holds.
    block = ReadRegisters(session, chip::kRegBrightness, static_cast<std::uint8_t>(count));
    for (int led : leds) block[static_cast<std::size_t>(led)] = brightness;
  }
  WriteBrightnessBlock(session, block);
}

void SetLedValues(Session& session, const ChipBoardEntry& board, int first, std::span<const std::uint8_t> values) {
  if (values.empty()) return;
  std::vector<int> leds;
  for (std::size_t i = 0; i < values.size(); ++i) leds.push_back(first + static_cast<int>(i));
  CheckLeds(leds, board);
  const auto count = static_cast<std::size_t>(board.ledCount);
  std::vector<std::uint8_t> block;
  if (first == 0 && values.size() == count) {
    block.assign(values.begin(), values.end());
  } else {
    block = ReadRegisters(session, chip::kRegBrightness, static_cast<std::uint8_t>(count));
    std::copy(values.begin(), values.end(), block.begin() + first);
  }
  WriteBrightnessBlock(session, block);
}

std::uint8_t SetCurrent(Session& session, int milliamps) {
  if (milliamps < 1 || milliamps > 40)
    throw UsageError("MILLIAMPS must be a number from 1 to 40 (decimal or 0x hex), not '" + std::to_string(milliamps) +
                     "'");
  const std::uint8_t code = chip::CurrentRangeCode(milliamps);
  WriteRegisters(session, chip::kRegGlobalControl, std::array{code});
  return code;
}

void SetMode(Session& session, bool led) {
  WriteRegisters(session, chip::kRegMode, led ? chip::kModeLed : chip::kModeGpio);
  // As the window does once the LED mode write is acknowledged.
  if (led) WriteRegisters(session, chip::kRegEffectControl, std::array{chip::kEffectStop});
}

void SoftwareReset(Session& session) {
  WriteRegisters(session, chip::kRegSoftwareReset, std::array{chip::kSoftwareResetValue});
}

std::array<std::uint8_t, 2> ReadInputPorts(Session& session) {
  // Port 1 after port 0, as the input page reads them.
  std::array<std::uint8_t, 2> ports{};
  for (std::uint8_t port : {chip::kRegPort0Input, chip::kRegPort1Input})
    ports[port - chip::kRegPort0Input] = ReadRegisters(session, port, 1)[0];
  return ports;
}

namespace {

// Reads a register pair, lets `change` edit it, writes it back.
std::array<std::uint8_t, 2> ChangeRegisterPair(
    Session& session, std::uint8_t reg,
    const std::function<std::array<std::uint8_t, 2>(std::array<std::uint8_t, 2>)>& change) {
  const auto now = ReadRegisters(session, reg, 2);
  const auto written = change({now[0], now[1]});
  WriteRegisters(session, reg, written);
  return written;
}

}  // namespace

PinWrite SetOutputLevels(Session& session, const ChipBoardEntry& board, const PinSettings& settings) {
  CheckPins(settings, board);
  CheckOutputMapping(board);
  const int count = board.ledCount;
  const std::uint8_t id = board.boardId;
  PinWrite result;
  result.bytes = ChangeRegisterPair(session, chip::kRegOutputLevels, [&](std::array<std::uint8_t, 2> now) {
    result.pins = chip::OutputLevelPins(now, count, id);
    for (const auto& [pin, on] : settings) result.pins[static_cast<std::size_t>(pin)] = on ? 1 : 0;
    return chip::OutputLevelBytes(result.pins, count, id);
  });
  return result;
}

PinWrite SetInterrupts(Session& session, const ChipBoardEntry& board, const PinSettings& settings) {
  CheckPins(settings, board);
  const int count = board.ledCount;
  const std::uint8_t id = board.boardId;
  PinWrite result;
  result.bytes = ChangeRegisterPair(session, chip::kRegInterruptDisable, [&](std::array<std::uint8_t, 2> now) {
    result.pins = chip::InterruptDisabledPins(now, count, id);
    for (const auto& [pin, enable] : settings) result.pins[static_cast<std::size_t>(pin)] = enable ? 0 : 1;
    return chip::InterruptDisableBytes(result.pins, count, id);
  });
  return result;
}

std::pair<std::uint8_t, std::uint8_t> SetDriver(Session& session, bool pushPull) {
  const std::uint8_t before = ReadRegisters(session, chip::kRegGlobalControl, 1)[0];
  const std::uint8_t after = chip::WithDriverType(before, pushPull);
  WriteRegisters(session, chip::kRegGlobalControl, std::array{after});
  return {before, after};
}

void SetDirection(Session& session, bool input) {
  WriteRegisters(session, chip::kRegDirection, input ? chip::kDirectionInput : chip::kDirectionOutput);
}

void WaitInterrupt(Session& session, int timeoutMs) {
  std::string error;
  if (!session.TakeInterrupt(timeoutMs, error)) ThrowSessionError(error);
}

// ---- effects ----

namespace {

std::string TimeList() {
  std::string list;
  for (std::size_t i = 1; i < chip::kTimeTexts.size(); ++i) list += std::string(i > 1 ? ", " : "") + chip::kTimeTexts[i];
  return list;
}

// Holds the chain's next command until the session sends it, so that the
// session can send it again when its answer is lost, as it does for every
// register command.
class HeldPort final : public chip::RegisterPort {
 public:
  explicit HeldPort(Session& session) : session_(session) {}
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
  int Send() const { return read_ ? session_.SendRegisterRead(reg_, count_) : session_.SendRegisterWrite(reg_, data_); }
  std::uint8_t Register() const { return reg_; }
  bool Wrote() const { return !read_; }

 private:
  Session& session_;
  bool read_ = false;
  std::uint8_t reg_ = 0;
  std::uint8_t count_ = 0;
  std::vector<std::uint8_t> data_;
};

// Sends the chain's commands and hands it the board's answers until it has
// run through.
void RunChain(Session& session, chip::Effect effect) {
  if (!session.AccessAllowed()) throw LinkError("The board is not identified: register access is refused.");
  HeldPort port(session);
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
    std::string error;
    if (!session.Ask([&] { return port.Send(); }, isAnswer, error, "effect step awaiting " + awaited)) {
      chain.Cancel();
      ThrowSessionError(error);
    }
    if (failed)
      throw ChipError("The board could not carry out the effect's step: its failure reply (16, 48) came while waiting for " +
                      awaited + ". " +
                      chip::ChipDidNotAnswerText(chip::SentTransfer{session.ChipAddress(), reg, port.Wrote()}));
  }
}

void UploadEffect(Session& session, int ledCount) {
  const auto block = chip::EffectDataBlock(ledCount);
  // As the window's effect dialog sends it: a chip board has been chosen
  // for the identified board by then.
  const auto header = chip::EffectBlockHeader(kBoardKindChosen, block.size());
  std::string error;
  const bool own = session.Options().ownLink;
  const auto m = session.Ask(
      [&] {
        return own ? session.Lamp().Commands().SendChipCommandBlock(kCmdBoardData, header.data(), block.data())
                   : SendChipCommandBlock(kCmdBoardData, header.data(), block.data());
      },
      [](const platform::Message& msg) {
        return msg.id == platform::kMsgBoardQueryOk || msg.id == platform::kMsgBoardQueryFailed;
      },
      error, "effect data");
  if (!m) ThrowSessionError(error);
  if (m->id == platform::kMsgBoardQueryFailed) throw ChipError("The board refused the effect data.");
}

}  // namespace

std::uint8_t EffectTimeCode(const std::string& text, const std::string& what) {
  const auto code = chip::TimeCodeFromText(text);
  if (!code) throw UsageError(what + " must be one of " + TimeList() + ", not '" + text + "'");
  // The page's own warning: an effect with a zero time does not start.
  if (*code == 0) throw UsageError(chip::kZeroTimeWarning);
  return *code;
}

void RunEffect(Session& session, const EffectRequest& r, int ledCount) {
  const bool blink = r.effect == chip::Effect::kBlink;
  for (std::uint8_t code : {r.rampOn, r.rampOff})
    if (code == 0 || !chip::TimeCodeMilliseconds(code)) throw UsageError(chip::kZeroTimeWarning);
  if (blink)
    for (std::uint8_t code : {r.keepOn, r.keepOff})
      if (code == 0 || !chip::TimeCodeMilliseconds(code)) throw UsageError(chip::kZeroTimeWarning);
  if (r.reset) SoftwareReset(session);
  WriteRegisters(session, chip::kRegRampTimes, std::array{chip::TimeByte(r.rampOn, r.rampOff)});
  if (blink) WriteRegisters(session, chip::kRegKeepTimes, std::array{chip::TimeByte(r.keepOn, r.keepOff)});
  RunChain(session, r.effect);
  // As the window's effect dialog does when it opens.
  if (blink) UploadEffect(session, ledCount);
}

// ---- setup files ----

setup::Setup LoadSetup(const std::string& path) {
  std::string error;
  auto loaded = setup::LoadSetupFile(path, error);
  if (!loaded) throw ChipError(error + "; nothing written");
  return *loaded;
}

void ApplySetup(Session& session, const setup::Setup& s, const std::vector<setup::RegisterWrite>& writes) {
  std::string error;
  if (s.i2cAddress != session.ChipAddress()) {
    std::string answer;
    if (!session.SetChipAddress(s.i2cAddress, answer, error)) {
      try {
        ThrowSessionError(error);
      } catch (const Error& e) {
        ThrowError(e.Kind(), error + "; nothing written");
      }
    }
  }
  g_i2cSpeed = s.i2cSpeed;
  for (std::size_t i = 0; i < writes.size(); ++i) {
    if (session.WriteRegisters(writes[i].reg, writes[i].data, error)) continue;
    const std::string text = "step " + std::to_string(i + 1) + " of " + std::to_string(writes.size()) + " (" +
                             setup::WriteText(writes[i]) + ", " + writes[i].what + ") failed: " + error +
                             (i == 0 ? " Nothing was written." : " The steps before it were written.");
    try {
      ThrowSessionError(error);
    } catch (const Error& e) {
      ThrowError(e.Kind(), text);
    }
  }
}

}  // namespace corvel
