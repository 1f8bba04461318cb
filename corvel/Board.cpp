#include "corvel/Board.h"

#include <cstdio>
#include <mutex>

#include "chip/RegisterMap.h"
#include "corvel/Session.h"
#include "link/LinkHost.h"
#include "platform/MessageBox.h"

namespace corvel {

namespace {

SessionOptions SessionFor(const OpenOptions& o) {
  SessionOptions s;
  s.ownLink = true;
  s.sim = !o.sim.empty();
  if (s.sim) {
    s.simBoardId = o.sim.front();
    if (o.sim.size() > 1) s.simBoardIds = o.sim;
  }
  s.devicePath = o.device;
  s.serial = o.serial;
  s.simFaults = o.simFaults;
  s.simSeed = o.simSeed;
  s.simChipAddress = o.simChipAddress;
  s.timeoutMs = o.timeoutMs;
  s.chipAddress = o.chipAddress;
  s.trace = static_cast<bool>(o.trace);
  s.traceOut = o.trace;
  s.logOut = o.log;
  return s;
}

void CheckOptions(const OpenOptions& o) {
  if (!o.device.empty() && !o.serial.empty())
    throw UsageError("--device and --serial exclude each other: name the board by one of them");
  if (o.chipAddress < 0x58 || o.chipAddress > 0x5B)
    throw UsageError("the chip address must be 0x58..0x5B");
  if (o.timeoutMs < 1) throw UsageError("the timeout must be at least 1 ms");
  for (std::uint8_t id : o.sim)
    if (!FindChipBoard(id)) throw UsageError("no simulated board has id " + std::to_string(id) + " (0, 1, 3, 5 or 128)");
}

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v);
  return buf;
}

// Whether a write of `count` registers from `reg` reaches `target`.
bool Covers(std::uint8_t reg, std::size_t count, std::uint8_t target) { return reg <= target && reg + count > target; }

}  // namespace

std::string ReleaseMode(std::uint16_t release) {
  if (release == kReleaseApplication) return "application";
  if (release == kReleaseBootloader) return "bootloader";
  return "unknown release";
}

std::vector<DeviceListing> ListBoards(const OpenOptions& options) {
  CheckOptions(options);
  Session session(SessionFor(options));
  std::vector<DeviceListing> list;
  for (const auto& d : session.List()) list.push_back({d.path, d.serialNumber, d.releaseNumber, ReleaseMode(d.releaseNumber)});
  return list;
}

Board::Board(OpenOptions options) : options_(std::move(options)) {
  CheckOptions(options_);
  session_ = std::make_unique<Session>(SessionFor(options_));
  Identify();
}

Board::~Board() = default;

void Board::Identify() {
  // A command for one board, with several attached and none chosen, is not
  // given to whichever happens to be found first.
  if (options_.serial.empty() && options_.device.empty()) {
    const auto devices = session_->List();
    if (devices.size() > 1) {
      std::string text = std::to_string(devices.size()) +
                         " lamp boards are attached; choose one with --device PATH or --serial SN:";
      for (const auto& d : devices) text += "\n  " + d.path + "  serial " + (d.serialNumber.empty() ? "-" : d.serialNumber);
      throw UsageError(text);
    }
  }
  BoardInfo info;
  std::string error;
  if (!session_->Identify(info, error)) ThrowSessionError(error);
  entry_ = info.boardId ? FindChipBoard(*info.boardId) : nullptr;
  if (!entry_)
    throw ChipError("The board reports id " + (info.boardId ? std::to_string(*info.boardId) : std::string("(none)")) +
                    ", which names no known chip board: register access is refused.");
  if (!info.addressAccepted)
    throw ChipError("The board refused chip address " + Hex2(session_->ChipAddress()) + ": " + info.addressText);
  identity_.boardId = entry_->boardId;
  identity_.chipBoard = entry_->name;
  identity_.ledCount = entry_->ledCount;
  identity_.firmware = info.versions[2];
  identity_.addressAnswer = info.addressText;
}

std::uint8_t Board::ChipAddress() {
  std::lock_guard lock(mutex_);
  return session_->ChipAddress();
}

void Board::SetChipAddress(std::uint8_t address) {
  if (address < 0x58 || address > 0x5B) throw UsageError("the chip address must be 0x58..0x5B");
  std::lock_guard lock(mutex_);
  std::string answer, error;
  if (!session_->SetChipAddress(address, answer, error)) ThrowSessionError(error);
}

std::vector<std::uint8_t> Board::ReadRegisters(std::uint8_t reg, std::uint8_t count) {
  std::lock_guard lock(mutex_);
  return corvel::ReadRegisters(*session_, reg, count);
}

void Board::WriteRegisters(std::uint8_t reg, std::span<const std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  const std::optional<bool> before = mode_;
  // A raw write to the mode registers (or a reset) leaves the mode this
  // Board set behind: not known any more.
  mode_.reset();
  corvel::WriteRegisters(*session_, reg, data);
  if (!Covers(reg, data.size(), chip::kRegMode) && !Covers(reg, data.size(), chip::kRegMode + 1) &&
      !Covers(reg, data.size(), chip::kRegSoftwareReset))
    mode_ = before;
}

std::pair<std::uint8_t, std::uint8_t> Board::ModifyRegister(std::uint8_t reg, std::uint8_t mask, std::uint8_t bits) {
  std::lock_guard lock(mutex_);
  return corvel::ModifyRegister(*session_, reg, mask, bits);
}

void Board::SetLeds(std::uint8_t brightness, const std::vector<int>& leds) {
  std::lock_guard lock(mutex_);
  corvel::SetLeds(*session_, *entry_, brightness, leds);
}

void Board::SetLedValues(int first, std::span<const std::uint8_t> values) {
  std::lock_guard lock(mutex_);
  corvel::SetLedValues(*session_, *entry_, first, values);
}

std::vector<std::uint8_t> Board::ReadLeds() {
  std::lock_guard lock(mutex_);
  return corvel::ReadRegisters(*session_, chip::kRegBrightness, static_cast<std::uint8_t>(entry_->ledCount));
}

std::uint8_t Board::SetCurrent(int milliamps) {
  std::lock_guard lock(mutex_);
  return corvel::SetCurrent(*session_, milliamps);
}

int Board::CurrentMilliamps() {
  std::lock_guard lock(mutex_);
  return chip::CurrentRangeMilliamps(corvel::ReadRegisters(*session_, chip::kRegGlobalControl, 1)[0]);
}

void Board::SetMode(bool led) {
  std::lock_guard lock(mutex_);
  mode_.reset();
  corvel::SetMode(*session_, led);
  mode_ = led;
}

std::optional<bool> Board::Mode() const {
  std::lock_guard lock(mutex_);
  return mode_;
}

void Board::SetDirection(bool input) {
  std::lock_guard lock(mutex_);
  corvel::SetDirection(*session_, input);
}

std::array<std::uint8_t, 2> Board::ReadInputs() {
  std::lock_guard lock(mutex_);
  return corvel::ReadInputPorts(*session_);
}

PinWrite Board::SetOutputLevels(const PinSettings& settings) {
  std::lock_guard lock(mutex_);
  return corvel::SetOutputLevels(*session_, *entry_, settings);
}

PinWrite Board::SetInterrupts(const PinSettings& settings) {
  std::lock_guard lock(mutex_);
  return corvel::SetInterrupts(*session_, *entry_, settings);
}

std::pair<std::uint8_t, std::uint8_t> Board::SetDriver(bool pushPull) {
  std::lock_guard lock(mutex_);
  return corvel::SetDriver(*session_, pushPull);
}

void Board::WaitInterrupt(int timeoutMs) {
  if (timeoutMs < 0) throw UsageError("the timeout must not be negative");
  std::lock_guard lock(mutex_);
  corvel::WaitInterrupt(*session_, timeoutMs);
}

void Board::RunEffect(const EffectRequest& request) {
  std::lock_guard lock(mutex_);
  if (request.reset) mode_.reset();
  corvel::RunEffect(*session_, request, entry_->ledCount);
}

void Board::Reset() {
  std::lock_guard lock(mutex_);
  mode_.reset();
  corvel::SoftwareReset(*session_);
}

std::vector<setup::RegisterWrite> Board::Apply(const std::string& path) {
  const setup::Setup s = LoadSetup(path);
  CheckSetupBoard(s, path, *entry_);
  const auto writes = setup::SetupWrites(s);
  std::lock_guard lock(mutex_);
  mode_.reset();
  corvel::ApplySetup(*session_, s, writes);
  return writes;
}

std::optional<LoadedImage> LoadImage(const std::string& path, std::vector<std::string>& texts) {
  // The image checks speak through message boxes, one hook for the process:
  // one load at a time takes their texts.
  static std::mutex boxes;
  std::lock_guard lock(boxes);
  platform::SetMessageBoxHook([&texts](const std::string& text, const std::string&, platform::MessageIcon,
                                       platform::MessageButtons) {
    texts.push_back(text);
    return platform::MessageResult::Ok;
  });
  LoadedImage image;
  image.buffer = std::make_unique<ImageBuffer>();
  image.length = CheckImageFile(path, *image.buffer, &image.checkWord);
  platform::SetMessageBoxHook({});
  if (image.length == 0) {
    if (texts.empty()) texts.push_back("the image holds no data (length 0): it is never flashed.");
    return std::nullopt;
  }
  return image;
}

void Board::Flash(const std::string& path, const FlashProgress& events, const std::atomic<bool>* cancel) {
  std::vector<std::string> texts;
  auto image = LoadImage(path, texts);
  if (!image) {
    std::string text;
    for (const auto& t : texts) text += (text.empty() ? "" : "\n") + t;
    throw UsageError(text);
  }
  std::lock_guard lock(mutex_);
  static const std::atomic<bool> never{false};
  const std::atomic<bool>& stop = cancel ? *cancel : never;
  FlashEvents flashEvents;
  flashEvents.note = [&](const std::string& line) {
    if (events.note) events.note(line);
  };
  flashEvents.progress = [&](unsigned percent) {
    if (events.progress) events.progress(percent);
  };
  FlashOutcome outcome;
  std::string error;
  {
    Flasher flasher(session_->Lamp());
    outcome = flasher.Run(std::span<const std::uint8_t>(image->buffer->data(), image->buffer->size()), image->length,
                          image->checkWord, stop, flashEvents, error);
  }
  mode_.reset();
  if (outcome == FlashOutcome::kDone) return;
  if (outcome == FlashOutcome::kStopped) throw LinkError(error);
  ThrowSessionError(error);
}

sim::SimBoard* Board::Sim() {
  std::lock_guard lock(mutex_);
  return session_->Sim();
}

}  // namespace corvel
