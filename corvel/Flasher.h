// The firmware update from a program (corvelctl, the library's Board): the steps of the update window
// (boot value, restart into the bootloader, connect, transfer, end), driven
// from the one thread that also plays the main window.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "session/LampSession.h"
#include "firmware/BootTransfer.h"

struct FlashEvents {
  std::function<void(const std::string& line)> note;  // what happened, one line each
  std::function<void(unsigned percent)> progress;      // 0..100
};

enum class FlashOutcome { kDone, kFailed, kStopped };

class Flasher {
 public:
  // Registers the transfer context with the session's transport manager and
  // takes the firmware-update window's place for the link's notices. Any
  // number of flashers run at once, each on a session of its own board.
  explicit Flasher(session::LampSession& session, BootTransferTiming timing = {});
  // Stops and joins a worker still running, then gives everything back.
  ~Flasher();
  Flasher(const Flasher&) = delete;
  Flasher& operator=(const Flasher&) = delete;

  // A board already running its bootloader (left there by an update that
  // failed) is flashed without the boot value command.
  bool BootloaderAttached();

  // `image` is the loaded buffer, N = `length`. `interrupted` is polled: once
  // set, the transfer stops after the current block like the window's Stop.
  // On kFailed and kStopped, `error` says what happened and what to do.
  FlashOutcome Run(std::span<const std::uint8_t> image, std::uint32_t length, std::uint32_t checkWord,
                   const std::atomic<bool>& interrupted, const FlashEvents& events, std::string& error);

 private:
  void Observe(const platform::Message& m);
  std::optional<platform::Message> Await(const std::function<bool(const platform::Message&)>& want,
                                         std::chrono::milliseconds timeout, const std::atomic<bool>& interrupted);
  bool EnterBootloader(const std::atomic<bool>& interrupted, const FlashEvents& events, std::string& error);
  // Boot value command (48, 1) and its answer: the firmware restarts into
  // its bootloader.
  bool AskForBootloader(const std::atomic<bool>& interrupted, const FlashEvents& events, std::string& error);
  FlashOutcome Transfer(std::span<const std::uint8_t> image, std::uint32_t length, std::uint32_t checkWord,
                        const std::atomic<bool>& interrupted, const FlashEvents& events, std::string& error);
  void AwaitApplication(const FlashEvents& events);

  // The attached boards this session may open.
  std::vector<HidDeviceInfo> ChosenDevices();

  session::LampSession& session_;
  QVCommunication& comm_;
  BootTransferContext context_;
  std::optional<std::intptr_t> bootVersion_;  // from the connect answer
  // Connect records sent to the bootloader found last, and when the next is due.
  int connectAttempts_ = 0;
  std::chrono::steady_clock::time_point nextConnectAttempt_{};
};
