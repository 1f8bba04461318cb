#include "corvel/Flasher.h"

#include <algorithm>

#include "link/CommandSet.h"
#include "link/LinkHost.h"
#include "link/MUSBHid.h"
#include "platform/Messages.h"

using namespace std::chrono_literals;
using platform::Message;

namespace {

// A restarting board is away for a moment; a real one may take a few seconds
// to enumerate again.
constexpr std::chrono::milliseconds kRestartAllowance{10000};
constexpr std::chrono::milliseconds kPollSlice{100};

// Where an update that did not finish leaves the user.
constexpr const char* kWhatNextInBootloader =
    "The board stays in its bootloader: run 'corvelctl flash' again to finish the update.";
// An update that erased the flash and did not write it whole leaves nothing
// the bridge can start: the board comes back in its bootloader.
constexpr const char* kWhatNextAfterErase =
    "Its flash was erased, so the board comes back in its bootloader when plugged in again: run 'corvelctl "
    "flash' again to finish the update.";
constexpr const char* kWhatNextReplug =
    "Re-plug the board, then run 'corvelctl flash' again (it also works while the board is still in its "
    "bootloader).";

}  // namespace

Flasher::Flasher(session::LampSession& session, BootTransferTiming timing)
    : session_(session),
      comm_(session.Communication()),
      context_(BootTransferContext::WriterFor(session.Communication()), timing) {
  // One thread plays both windows here, so the update window's notices come
  // to the same queue as the main window's.
  context_.SetStatusTarget(session_.Handle());
  if (!session_.OwnLink()) corvel::SetBootDialogHandle(session_.Handle());
  comm_.SetBootTransferContext(&context_);
}

std::vector<HidDeviceInfo> Flasher::ChosenDevices() {
  std::vector<HidDeviceInfo> chosen;
  const DeviceChoice choice = comm_.Hid()->Choice();
  for (const auto& d : session_.List())
    if (choice.Matches(d)) chosen.push_back(d);
  return chosen;
}

Flasher::~Flasher() {
  if (context_.IsRunning()) context_.RequestStop();
  context_.Join();
  comm_.SetBootTransferContext(nullptr);
  comm_.SetFirmwareUpdate(0);
  if (!session_.OwnLink()) corvel::SetBootDialogHandle(platform::kNoHandle);
}

bool Flasher::BootloaderAttached() {
  const auto devices = ChosenDevices();
  return std::any_of(devices.begin(), devices.end(),
                     [](const HidDeviceInfo& d) { return d.releaseNumber == kReleaseBootloader; });
}

void Flasher::Observe(const Message& m) {
  if (m.id != platform::kMsgBootStatus) return;
  // The link reports the bootloader as it comes, possibly more than once
  // while the restart's removal and arrival are handled. Each report gets a
  // connect record, as in the window; the context refuses it once the
  // transfer runs.
  if (m.wParam == kBootStatusBootloaderFound) {
    connectAttempts_ = 1;
    nextConnectAttempt_ = std::chrono::steady_clock::now() + kBootConnectRetry;
    context_.SendConnectRecord();
  }
  if (m.wParam == kBootStatusConnected && !bootVersion_) bootVersion_ = m.Value();
}

std::optional<Message> Flasher::Await(const std::function<bool(const Message&)>& want,
                                      std::chrono::milliseconds timeout, const std::atomic<bool>& interrupted) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const auto observed = [&](const Message& m) {
    Observe(m);
    return want(m);
  };
  while (!interrupted.load()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left <= 0ms) return std::nullopt;
    if (auto m = session_.Pump(observed, std::min(left, kPollSlice))) return m;
  }
  return std::nullopt;
}

FlashOutcome Flasher::Run(std::span<const std::uint8_t> image, std::uint32_t length, std::uint32_t checkWord,
                          const std::atomic<bool>& interrupted, const FlashEvents& events, std::string& error) {
  if (!EnterBootloader(interrupted, events, error)) return FlashOutcome::kFailed;
  const FlashOutcome outcome = Transfer(image, length, checkWord, interrupted, events, error);
  if (outcome == FlashOutcome::kDone) AwaitApplication(events);
  return outcome;
}

bool Flasher::AskForBootloader(const std::atomic<bool>& interrupted, const FlashEvents& events,
                               std::string& error) {
  const std::uint8_t bootValue = 0;
  if (!session_.Commands().SendBootCommand(kCmdSetBootValue, &bootValue, 1)) {
    error = "The link refused the boot value command (too many commands unanswered).";
    return false;
  }
  const auto timeout = std::chrono::milliseconds(session_.TimeoutMs());
  auto m = Await(
      [](const Message& msg) {
        return IsTextMessage(msg, platform::kMsgTextOk, kTextBootValueOk) ||
               IsTextMessage(msg, platform::kMsgTextFailed, kTextBootValueFailed);
      },
      timeout, interrupted);
  if (interrupted.load()) return false;
  if (!m) {
    error = "No answer to the boot value command within " + std::to_string(timeout.count()) +
            " ms. Re-plug the board and try again.";
    return false;
  }
  if (m->id == platform::kMsgTextFailed) {
    error = std::string(kTextBootValueFailed) +
            "\nThe board refused to restart into its bootloader; it still runs its application firmware.";
    return false;
  }
  events.note(kTextBootValueOk);
  return true;
}

bool Flasher::EnterBootloader(const std::atomic<bool>& interrupted, const FlashEvents& events, std::string& error) {
  using Clock = std::chrono::steady_clock;
  const auto interruptedBefore = [&] {
    error = "Interrupted before the transfer began. The board may be running its bootloader now: "
            "run 'corvelctl flash' again, or re-plug it.";
    return false;
  };
  // The board comes back without the settle pause a fresh connection takes.
  comm_.SetFirmwareUpdate(1);

  bool bootValueSent = false;
  if (BootloaderAttached()) {
    events.note("The board is running its bootloader already.");
    if (!comm_.Connect()) {
      error = "The board's bootloader could not be opened: " + comm_.Hid()->LastError();
      return false;
    }
  } else {
    if (!AskForBootloader(interrupted, events, error)) return interrupted.load() ? interruptedBefore() : false;
    bootValueSent = true;
  }

  // Now the bootloader: found (status 12), asked to connect (again while it
  // does not answer), and its answer (status 0). On the way the board may
  // instead come back as its application firmware (a bootloader that gave
  // up and started it): then it is asked for the bootloader as above. A
  // bootloader that goes while nothing is attached was unplugged.
  const auto arrival = std::max(std::chrono::milliseconds(session_.TimeoutMs()), kRestartAllowance);
  auto deadline = Clock::now() + arrival;
  bool applicationBack = false;  // the bootloader went and the firmware came instead
  while (!bootVersion_) {
    if (interrupted.load()) return interruptedBefore();
    if (Clock::now() >= deadline) {
      error = "The board did not come back as its bootloader within " + std::to_string(arrival.count()) +
              " ms. Re-plug it and try again.";
      return false;
    }
    if (connectAttempts_ > 0 && Clock::now() >= nextConnectAttempt_) {
      if (connectAttempts_ == kBootConnectAttempts) {
        error = std::string(kTextBootloaderSilent) + "\nIt did not answer the connect record " +
                std::to_string(kBootConnectAttempts) + " times. " + kWhatNextReplug;
        return false;
      }
      ++connectAttempts_;
      nextConnectAttempt_ = Clock::now() + kBootConnectRetry;
      context_.SendConnectRecord();
    }
    auto m = Await([](const Message& msg) {
      return msg.id == platform::kMsgBootStatus || msg.id == platform::kMsgLinkState;
    }, kPollSlice, interrupted);
    if (!m) continue;
    if (m->id == platform::kMsgBootStatus && m->wParam == kBootStatusDeviceRemoved) {
      connectAttempts_ = 0;
      const auto devices = ChosenDevices();
      if (devices.empty()) {
        error = "The board was unplugged while connecting to its bootloader. Plug it in and run "
                "'corvelctl flash' again.";
        return false;
      }
      applicationBack = std::any_of(devices.begin(), devices.end(),
                                    [](const HidDeviceInfo& d) { return d.releaseNumber == kReleaseApplication; });
      continue;
    }
    // The firmware is linked again (its handshake answered): ask it.
    if (m->id == platform::kMsgLinkState && m->wParam == static_cast<std::uintptr_t>(kLinkDeviceFound) &&
        comm_.BootMode() == 0 && (applicationBack || !bootValueSent)) {
      if (bootValueSent) {
        error = "The board came back in its application firmware instead of its bootloader. Re-plug it and try "
                "again.";
        return false;
      }
      events.note("The board left its bootloader and runs its application firmware: asking it to restart.");
      if (!AskForBootloader(interrupted, events, error)) return interrupted.load() ? interruptedBefore() : false;
      bootValueSent = true;
      applicationBack = false;
      deadline = Clock::now() + arrival;
    }
  }
  events.note("Connected! Boot version is " + BootVersionText(*bootVersion_));
  return true;
}

FlashOutcome Flasher::Transfer(std::span<const std::uint8_t> image, std::uint32_t length, std::uint32_t checkWord,
                               const std::atomic<bool>& interrupted, const FlashEvents& events,
                               std::string& error) {
  if (!context_.StartTransfer(image, length, checkWord)) {
    error = "Update firmware thread create failed!";
    return FlashOutcome::kFailed;
  }
  // A removal is passed on to the worker, so one waiting for a board that
  // has gone ends at once.
  const std::atomic<bool> never{false};
  const auto wanted = [](const Message& msg) {
    return msg.id == platform::kMsgBootStatus || msg.id == platform::WM_DEVICECHANGE;
  };
  bool stopAsked = false;
  bool removed = false;
  bool erased = false;  // the erase was asked for: the old firmware may be gone
  std::optional<std::chrono::steady_clock::time_point> erasingSince;
  auto nextEraseNote = std::chrono::steady_clock::now();
  for (;;) {
    // The bootloader says nothing while it erases: the time so far and what
    // to expect, once a second.
    if (erasingSince && std::chrono::steady_clock::now() >= nextEraseNote) {
      nextEraseNote += std::chrono::seconds(1);
      events.note(EraseProgressText(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - *erasingSince),
                                    length));
    }
    if (interrupted.load() && !stopAsked) {
      stopAsked = true;
      context_.RequestStop();
      events.note("Stopping after the current block (Ctrl-C again quits at once)...");
    }
    auto m = Await(wanted, kPollSlice, never);
    if (!m) {
      if (context_.IsRunning()) continue;
      // Ended: its last word is posted before it ends, so one more look finds it.
      m = Await([](const Message& msg) { return msg.id == platform::kMsgBootStatus; }, kPollSlice, never);
      if (!m) {
        error = std::string("The transfer ended without a result. ") + kWhatNextReplug;
        return FlashOutcome::kFailed;
      }
    }
    if (m->id == platform::WM_DEVICECHANGE) {
      if (m->wParam == platform::DBT_DEVICEREMOVECOMPLETE) {
        removed = true;
        context_.OnDeviceRemoved();
      }
      continue;
    }
    const std::uintptr_t status = m->wParam;
    if (status == kBootStatusProgress) {
      events.progress(static_cast<unsigned>(std::clamp<std::intptr_t>(m->Value(), 0, 100)));
      continue;
    }
    const char* text = BootStatusText(status);
    if (status == kBootStatusStarted) {
      erased = true;
      erasingSince = std::chrono::steady_clock::now();
      nextEraseNote = *erasingSince;
    } else {
      erasingSince.reset();
    }
    if (!IsFinalBootStatus(status)) {
      if (text) events.note(text);  // started, erased; late connect answers carry none
      continue;
    }
    if (status == kBootStatusDone) {
      events.note(text);
      return FlashOutcome::kDone;
    }
    error = text;
    if (removed && status == kBootStatusTimeout) error += "\nThe board was unplugged during the update.";
    if (status == kBootStatusStopped) error += "\nStopped on request before the whole image was written.";
    // Stopped or refused, the bootloader was not asked to run what it got.
    const bool inBootloader = !removed && (status == kBootStatusStopped || status == kBootStatusUpdateError);
    error += std::string("\n") + (inBootloader                   ? kWhatNextInBootloader
                                   : removed && erased ? kWhatNextAfterErase
                                                       : kWhatNextReplug);
    return status == kBootStatusStopped ? FlashOutcome::kStopped : FlashOutcome::kFailed;
  }
}

void Flasher::AwaitApplication(const FlashEvents& events) {
  // The new firmware's handshake answer tells that it runs.
  const auto back = [&] { return comm_.LinkState() == kLinkDeviceFound && comm_.BootMode() == 0; };
  const std::atomic<bool> never{false};
  const bool returned =
      back() || Await([&](const Message&) { return back(); },
                      std::max(std::chrono::milliseconds(session_.TimeoutMs()), kRestartAllowance), never);
  events.note(returned ? "The board is back in its application firmware."
                       : "The board has not come back in its application firmware yet; if it does not, re-plug it.");
}
