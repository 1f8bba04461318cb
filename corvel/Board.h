// One lamp board for a program: found and opened (a real one by serial
// number or device path, or a simulated one with its knobs), identified, and
// then every chip-level operation on it. Pure C++ (no Qt).
//
// Each Board has a link of its own (its own engine, chip address and
// reader thread), so several boards are driven at once from several threads.
// One Board may be shared between threads: its operations take turns, each
// whole (a register write and its acknowledgement are never split by another
// thread's request). Every failure is a corvel::Error of its kind.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "corvel/ChipOps.h"
#include "corvel/Errors.h"
#include "corvel/Flasher.h"
#include "firmware/ImageFile.h"
#include "sim/SimBoard.h"
#include "sim/SimKnobs.h"

class Session;

namespace corvel {

struct OpenOptions {
  // A simulated bench with boards of these ids (serial numbers QVSIM0001,
  // QVSIM0002, ...); empty: real boards over USB HID.
  std::vector<std::uint8_t> sim;
  std::string serial;  // only the board with this serial number
  std::string device;  // only this device path (a hidraw node, or "sim:lamp-board/2")
  sim::SimFaults simFaults = sim::RealisticTiming();
  std::uint32_t simSeed = 1;
  std::uint8_t simChipAddress = 0x5B;
  int timeoutMs = 5000;          // for each answer
  std::uint8_t chipAddress = 0x5B;
  // Every report in and out with a decode of each frame (empty: none), and
  // a CSV row for each frame and record (empty: none). Called on the link's
  // reader thread.
  std::function<void(const std::string&)> trace;
  std::function<void(const std::string&)> log;
};

struct DeviceListing {
  std::string path;
  std::string serial;  // empty when the board has none
  std::uint16_t release = 0;
  std::string mode;  // "application", "bootloader" or "unknown release"
};
std::string ReleaseMode(std::uint16_t release);

// The attached boards (with `options.sim`: the simulated bench's), without
// opening any.
std::vector<DeviceListing> ListBoards(const OpenOptions& options = {});

struct Identity {
  std::uint8_t boardId = 0;
  std::string chipBoard;  // "QV6033"
  int ledCount = 0;       // LEDs, and pins
  std::string firmware;   // the bridge's firmware version
  std::string addressAnswer;
};

// What an update reports as it goes.
struct FlashProgress {
  std::function<void(unsigned percent)> progress;
  std::function<void(const std::string& line)> note;
};

class Board {
 public:
  // Opens the board the options name (UsageError with several attached and
  // none named) and identifies it: a board whose id names no chip board, or
  // that refuses the chip address, is refused (ChipError).
  explicit Board(OpenOptions options);
  ~Board();
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  const Identity& Info() const { return identity_; }
  const ChipBoardEntry& Entry() const { return *entry_; }
  std::uint8_t ChipAddress();
  void SetChipAddress(std::uint8_t address);  // 0x58..0x5B

  std::vector<std::uint8_t> ReadRegisters(std::uint8_t reg, std::uint8_t count);
  void WriteRegisters(std::uint8_t reg, std::span<const std::uint8_t> data);
  std::pair<std::uint8_t, std::uint8_t> ModifyRegister(std::uint8_t reg, std::uint8_t mask, std::uint8_t bits);

  // See ChipOps.h for what each sends.
  void SetLeds(std::uint8_t brightness, const std::vector<int>& leds = {});
  void SetLedValues(int first, std::span<const std::uint8_t> values);
  std::vector<std::uint8_t> ReadLeds();
  std::uint8_t SetCurrent(int milliamps);
  // The top of the current range register 0x11 holds (it reads back).
  int CurrentMilliamps();
  void SetMode(bool led);
  // What this Board last set (the chip does not read its mode back); none
  // before the first SetMode, and again after a reset.
  std::optional<bool> Mode() const;
  void SetDirection(bool input);
  std::array<std::uint8_t, 2> ReadInputs();
  PinWrite SetOutputLevels(const PinSettings& settings);
  PinWrite SetInterrupts(const PinSettings& settings);
  std::pair<std::uint8_t, std::uint8_t> SetDriver(bool pushPull);
  // Returns once the board reports an interrupt (one that came since the
  // last wait counts); TimeoutError after `timeoutMs`.
  void WaitInterrupt(int timeoutMs);
  void RunEffect(const EffectRequest& request);
  void Reset();
  // Writes a setup file; returns the writes made, in order.
  std::vector<setup::RegisterWrite> Apply(const std::string& path);
  // Updates the board's firmware with a .qvbin image. `cancel` (may be
  // null) stops it after the current block. Throws unless done.
  void Flash(const std::string& path, const FlashProgress& events = {}, const std::atomic<bool>* cancel = nullptr);

  // The simulated board behind this one (null for a real board).
  sim::SimBoard* Sim();
  // The link beneath, for what this class does not wrap.
  Session& Link() { return *session_; }

 private:
  void Identify();

  mutable std::recursive_mutex mutex_;
  OpenOptions options_;
  std::unique_ptr<Session> session_;
  Identity identity_;
  const ChipBoardEntry* entry_ = nullptr;
  std::optional<bool> mode_;
};

// Loads a .qvbin image as the update does: nothing (with the reasons, one a
// line, as the window's message boxes would show them) when it is refused.
struct LoadedImage {
  std::unique_ptr<ImageBuffer> buffer;
  std::uint32_t length = 0;
  std::uint32_t checkWord = 0;
};
std::optional<LoadedImage> LoadImage(const std::string& path, std::vector<std::string>& texts);

}  // namespace corvel
