#include "session/LampSession.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "link/BoardIds.h"
#include "link/LinkHost.h"
#include "link/MUSBHid.h"
#include "platform/Messages.h"
#include "session/LinkFlags.h"

using namespace std::chrono_literals;
using platform::Message;

namespace {

// What lights the window's interrupt indicator.
bool IsInterruptReport(const Message& m) {
  if (m.id != platform::kMsgInterrupt) return false;
  const auto* bytes = m.Bytes();
  return bytes && !bytes->empty() && (*bytes)[0] == 1;
}

// What the window's link line says once the board matched.
constexpr const char* kChipConnectedText = "Chip connected successfully!";

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v);
  return buf;
}

}  // namespace

bool IsTextMessage(const Message& m, std::uint32_t id, const char* text) {
  return m.id == id && m.wParam != 0 && std::string(reinterpret_cast<const char*>(m.wParam)) == text;
}

namespace session {

// The steps of the connect sequence after the handshake, and their answers:
// the same whether the owner waits for each or its event loop is told.
bool LampSession::IsAddressAnswer(const Message& m) {
  return IsTextMessage(m, platform::kMsgTextOk, kTextAddressOk) ||
         IsTextMessage(m, platform::kMsgTextFailed, kTextAddressFailed);
}
bool LampSession::IsBoardQueryAnswer(const Message& m) {
  return m.id == platform::kMsgBoardQueryOk || m.id == platform::kMsgBoardQueryFailed;
}
bool LampSession::IsVersionAnswer(const Message& m) { return m.id == platform::kMsgFirmwareVersion; }

int LampSession::SendBoardQuery(std::uint8_t boardKind) {
  const std::uint8_t header[kChipBlockHeaderSize] = {boardKind, 0, 0, 0};
  return sender_->SendChipCommandBlock(kCmdBoardData, header, nullptr);
}

int LampSession::SendVersionQuery() {
  const std::uint8_t any = 0;
  return sender_->SendSystemCommand(kCmdVersionQuery, &any);
}

namespace {
LampSession* g_processSession = nullptr;
}

LampSession* LampSession::Process() { return g_processSession; }

LampSession::LampSession(std::unique_ptr<HidBackend> backend, LampSessionOptions options,
                         std::unique_ptr<platform::DeviceMonitor> monitor)
    : options_(std::move(options)), monitor_(std::move(monitor)) {
  const platform::Handle own = queue_.handle();
  if (options_.ownLink) {
    // Everything of this board's link is its own: the engine, where its
    // replies and link states go, and the window its reply timer names.
    ownEngine_ = std::make_unique<ProtocolEngine>();
    engine_ = ownEngine_.get();
    replies_ = std::make_unique<CommandSetReplies>(ResultTargets{own, own});
    engine_->SetReplySink(replies_.get());
    sender_ = std::make_unique<CommandSender>(*engine_, own);
  } else {
    corvel::SetMainDialogHandle(own);
    engine_ = &ProtocolEngine::Instance();
    sender_ = std::make_unique<CommandSender>(*engine_);
  }
  backend_ = backend.get();  // owned by the transport manager from here on
  comm_ = std::make_unique<QVCommunication>(std::move(backend), *engine_);
  if (options_.ownLink) comm_->SetNotifyTargets(own, own);
  comm_->Init();
  comm_->Hid()->SetDeviceChoice(options_.choice);
  comm_->RegisterForDeviceNotifications(own);
  if (!options_.ownLink) {
    g_pCommunication = comm_.get();
    g_processSession = this;
  }
}

LampSession::~LampSession() {
  SetLinkFlags(0, 0);
  if (!options_.ownLink) {
    g_pCommunication = nullptr;
    if (g_processSession == this) g_processSession = nullptr;
  }
  comm_.reset();  // joins the reader thread
  if (ownEngine_) ownEngine_->SetReplySink(nullptr);
  if (!options_.ownLink && corvel::GetMainDialogHandle() == queue_.handle())
    corvel::SetMainDialogHandle(platform::kNoHandle);
}

void LampSession::SetLinkFlags(int present, int matched) {
  devicePresent_ = present;
  boardMatched_ = matched;
  if (options_.ownLink) return;
  g_bDevicePresent = present;
  g_bBoardMatched = matched;
}

void LampSession::Observe(const Message& m) {
  if (m.id == platform::WM_DEVICECHANGE) comm_->OnDeviceChange(static_cast<std::uint32_t>(m.wParam), 0);
  if (IsInterruptReport(m)) ++pendingInterrupts_;
  if (m.id == platform::kMsgLinkState && observer_) observer_->OnLinkState(static_cast<int>(m.wParam));
}

std::vector<HidDeviceInfo> LampSession::List() {
  // The same enumeration the transport runs, without opening anything.
  return backend_->Enumerate(kBoardVendorId, kBoardProductId);
}

std::optional<Message> LampSession::Pump(const std::function<bool(const Message&)>& want,
                                     std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (monitor_) {
      while (auto e = monitor_->ReadEvent()) comm_->OnDeviceChange(e->event, 0);
    }
    // A node given with --device may be one the system sends no events for
    // (udev does not know it): during a firmware update, while the link is
    // down and the node is there, that counts as an arrival, so the board
    // that restarted into its bootloader (and back) is linked again.
    if (!options_.devicePath.empty() && comm_->FirmwareUpdate() && !comm_->Hid()->IsConnected()) {
      std::error_code ignored;
      if (std::filesystem::exists(options_.devicePath, ignored)) comm_->OnDeviceChange(platform::DBT_DEVICEARRIVAL, 0);
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return std::nullopt;
    const auto slice = std::min<std::chrono::milliseconds>(
        50ms, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + 1ms);
    auto m = queue_->Wait(slice);
    if (!m) continue;
    Observe(*m);
    if (want(*m)) return m;
  }
}

bool LampSession::DropStaleMessages(std::string& error, const std::string& what) {
  bool up = true;
  for (const Message& m : queue_->Drain()) {
    Observe(m);
    if (m.id != platform::kMsgLinkState) continue;  // a late answer to a request that is over
    // A link that went down since the last request is not used blindly,
    // even if a board has been linked again meanwhile (it may be another).
    if (!NoteLinkState(m, error, what)) up = false;
  }
  return up;
}

bool LampSession::NoteLinkState(const Message& m, std::string& error, const std::string& what) {
  const int code = static_cast<int>(m.wParam);
  if (code == kLinkFailed) {
    linkFailed_ = true;
    return true;  // recovered from before the request goes again
  }
  if (!LinkStateIsDown(code)) return true;  // a protocol event, or the link coming up
  const char* text = LinkStateText(code);
  error = "Link lost during the " + what + ":" + (text ? text : " unknown link state");
  connected_ = identified_ = false;
  SetLinkFlags(devicePresent_, 0);
  return false;
}

bool LampSession::AwaitHandshake(std::string& error) {
  // The engine's answer to the handshake is a link state: 3 when it
  // matched, 0 when not.
  const auto isAnswer = [](const Message& m) {
    return m.id == platform::kMsgLinkState &&
           (m.wParam == static_cast<std::uintptr_t>(kLinkDeviceFound) ||
            m.wParam == static_cast<std::uintptr_t>(kLinkProtocolNotMatch));
  };
  auto m = Request([&] { return engine_->SendHandshake(); }, isAnswer, error, "handshake",
                   RequestKind::kHandshake);
  if (!m) return false;
  if (m->wParam != static_cast<std::uintptr_t>(kLinkDeviceFound)) {
    const char* text = LinkStateText(static_cast<int>(m->wParam));
    error = std::string("Handshake failed:") + (text ? text : " unknown link state");
    return false;
  }
  return true;
}

bool LampSession::RecoverLink(std::string& error, const std::string& what) {
  linkFailed_ = false;
  ++recoveries_;
  if (observer_) observer_->OnLinkRecovering(recoveries_);
  // Only the link is reset: the board keeps what it was told (chip address,
  // registers), as it does when the window reconnects.
  std::string reason = "no board found.";
  if (comm_->Reconnect()) {
    if (AwaitHandshake(reason)) return true;
    if (linkFailed_) return false;  // the board is there but does not answer yet: the caller counts it
  }
  connected_ = identified_ = false;
  SetLinkFlags(devicePresent_, 0);
  error = "The link failed during the " + what + " (the board stopped answering) and could not be set up again: " +
          reason + " Re-plug the board and try again.";
  return false;
}

std::optional<Message> LampSession::Request(const std::function<int()>& send,
                                        const std::function<bool(const Message&)>& isAnswer, std::string& error,
                                        const std::string& what, RequestKind kind) {
  using Clock = std::chrono::steady_clock;
  const bool handshake = kind == RequestKind::kHandshake;
  const auto timeout = std::chrono::milliseconds(options_.timeoutMs);
  auto deadline = Clock::now() + timeout;
  int recoveries = 0;
  // The handshake went out with the connect, and its answer may already be
  // waiting: nothing that came is stale then.
  int asks = handshake ? 1 : 0;
  bool sendNow = !handshake;
  if (!handshake && !DropStaleMessages(error, what)) return std::nullopt;
  for (;;) {
    if (linkFailed_) {
      if (handshake) {
        error = "The link failed during the handshake.";
        return std::nullopt;
      }
      if (recoveries++ == kMaxRecoveries) {
        error = "The link failed again and again during the " + what +
                ": the board does not answer. Re-plug it and try again.";
        return std::nullopt;
      }
      if (!RecoverLink(error, what)) {
        if (linkFailed_) continue;  // counted as one more failure above
        return std::nullopt;
      }
      deadline = Clock::now() + timeout;  // the fresh link gets its own time
      asks = 0;
      sendNow = true;
    }
    if (sendNow) {
      if (!send()) {
        error = "The link refused the " + what + " (too many commands unanswered).";
        return std::nullopt;
      }
      ++asks;
    }
    sendNow = true;
    // Wait for the answer. Once the board has acknowledged the request (the
    // engine's window is empty), its answer is due soon; if it does not come
    // it was lost, and the request goes again.
    constexpr Clock::time_point kNotYet = Clock::time_point::max();
    Clock::time_point acknowledged = kNotYet;
    bool again = false;
    while (!again) {
      const auto now = Clock::now();
      if (now >= deadline) {
        // The handshake's callers say what to do next.
        error = "No answer to the " + what + " within " + std::to_string(options_.timeoutMs) + " ms." +
                (handshake ? "" : " The board may be frozen: re-plug it and try again.");
        return std::nullopt;
      }
      bool answered = false;
      auto m = Pump(
          [&](const Message& msg) {
            if (isAnswer(msg)) return answered = true;
            return msg.id == platform::kMsgLinkState;
          },
          std::min<std::chrono::milliseconds>(
              20ms, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + 1ms));
      if (answered) return m;
      if (m) {
        if (!NoteLinkState(*m, error, what)) return std::nullopt;
        if (linkFailed_) again = true;
        continue;
      }
      if (engine_->GetStats().windowCount != 0) {
        acknowledged = kNotYet;
      } else if (acknowledged == kNotYet) {
        acknowledged = Clock::now();
      } else if (Clock::now() - acknowledged > kAnswerAfterAck) {
        // Asked again and again, and every answer lost: the link is reset
        // rather than trusted further.
        if (asks > kMaxAsksAgain) linkFailed_ = true;
        again = true;
      }
    }
  }
}

bool LampSession::Connect(std::string& error) {
  if (connected_) return true;
  const std::string noBoard =
      "No lamp board found (USB 0483:5750). Check the cable; 'corvelctl list' shows what is attached.";
  if (!comm_->Connect()) {
    const std::string reason = comm_->Hid()->LastError();
    error = reason.empty() ? noBoard : reason;
    queue_->Drain();
    return false;
  }
  linkFailed_ = false;
  for (int attempt = 0;; ++attempt) {
    if (AwaitHandshake(error)) break;
    if (!linkFailed_) {
      error += " Re-plug the board and try again.";
      return false;
    }
    // The board is attached but its answers do not come: opened again, as
    // a request does after a failed link.
    linkFailed_ = false;
    if (attempt == kMaxRecoveries) {
      error = "The board does not answer the handshake (tried on " + std::to_string(kMaxRecoveries + 1) +
              " connections). Re-plug it and try again.";
      return false;
    }
    ++recoveries_;
    if (observer_) observer_->OnLinkRecovering(recoveries_);
    if (!comm_->Reconnect()) {
      error = noBoard;
      return false;
    }
  }
  connected_ = true;
  return true;
}

bool LampSession::SetChipAddress(std::uint8_t address, std::string& answer, std::string& error) {
  if (!Connect(error)) return false;
  // Register commands use the new address only once the board has taken it.
  // (A board of its own leaves the process's address alone.)
  const std::uint8_t previous = g_i2cAddress.load();
  if (!options_.ownLink) g_i2cAddress = address;
  auto m = Request([&] { return sender_->SendChipCommand(kCmdSetChipAddress, &address, 1); }, IsAddressAnswer, error,
                   "chip address command");
  if (m && m->id == platform::kMsgTextOk) {
    answer = reinterpret_cast<const char*>(m->wParam);
    return true;
  }
  if (!options_.ownLink) g_i2cAddress = previous;
  if (!m) return false;
  answer = reinterpret_cast<const char*>(m->wParam);
  error = "The board refused chip address " + Hex2(address) + ": " + answer;
  return false;
}

bool LampSession::Identify(BoardInfo& info, std::uint8_t chipAddress, std::string& error) {
  if (!Connect(error)) return false;

  std::string addressError;
  info.addressAccepted = SetChipAddress(chipAddress, info.addressText, addressError);
  // The window goes on after a refused address (the board's answer is
  // shown), but not after one that was never answered.
  if (!info.addressAccepted && info.addressText.empty()) {
    error = addressError;
    return false;
  }

  auto m = Request([&] { return SendBoardQuery(kBoardKindRoundPage); }, IsBoardQueryAnswer, error, "board query");
  if (!m) return false;
  if (const auto* bytes = m->Bytes()) info.boardId = BoardIdFromReply(*bytes);
  if (info.boardId) {
    if (const auto* entry = FindChipBoard(*info.boardId)) info.chipBoard = entry->name;
  }

  m = Request([&] { return SendVersionQuery(); }, IsVersionAnswer, error, "firmware version query");
  if (!m) return false;
  if (const auto* record = m->PayloadAs<VersionRecord>()) info.versions = record->strings;

  identified_ = !info.chipBoard.empty();
  // Where identification ended, in words: the link state alone still says
  // "chip not connected" once the handshake is through.
  info.linkState = comm_->LinkState();
  if (!identified_) {
    info.linkText = "Board found, but its id names no known chip board.";
  } else if (!info.addressAccepted) {
    info.linkText = "Board identified, but it refused the chip address.";
  } else {
    info.linkText = kChipConnectedText;
  }
  // Register commands go out only for a board whose chip board is known,
  // as in the window.
  SetLinkFlags(1, identified_ ? 1 : 0);
  if (observer_) observer_->OnIdentified(info);
  return true;
}

bool LampSession::WaitForBoard(int timeoutMs) {
  const auto accepted = [&] {
    for (const auto& d : List())
      if (d.releaseNumber == kReleaseApplication || d.releaseNumber == kReleaseBootloader) return true;
    return false;
  };
  if (accepted()) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (monitor_ && monitor_->IsValid()) {
      monitor_->WaitEvent(static_cast<int>(std::min<long long>(left.count(), 500)));
    } else {
      queue_->Wait(std::min<std::chrono::milliseconds>(left, 200ms));  // simulated board events, or polling
    }
    if (accepted()) return true;
  }
  return false;
}

bool LampSession::TakeInterrupt(int timeoutMs, std::string& error) {
  if (pendingInterrupts_ == 0) {
    bool linkLost = false;
    Pump(
        [&](const Message& m) {
          if (m.id == platform::kMsgLinkState && LinkStateIsDown(static_cast<int>(m.wParam))) linkLost = true;
          return linkLost || IsInterruptReport(m);
        },
        std::chrono::milliseconds(timeoutMs));
    if (linkLost) {
      connected_ = identified_ = false;
      SetLinkFlags(devicePresent_, 0);
      error = "The link went down while waiting for an interrupt report.";
      return false;
    }
  }
  if (pendingInterrupts_ == 0) {
    error = "No interrupt report within " + std::to_string(timeoutMs) + " ms.";
    return false;
  }
  --pendingInterrupts_;
  return true;
}

}  // namespace session
