#include "session/LampSession.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

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

// Reconnecting did not help, in words, with the one piece of advice;
// `step`: the step of the connect sequence left unanswered, if it is known.
std::string GivenUp(const std::string& what, const std::string& step = {}) {
  return "The link failed again and again during the " + what + ": the board does not answer" +
         (step.empty() ? std::string() : " the " + step) + ". Re-plug it and try again.";
}

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

// The session's own loop, for an owner that waits on it: a timer is a
// deadline and a pause is work due at a time, both run by Pump between
// messages.
class LampSession::WaitingLoop final : public SessionHost {
 public:
  using Clock = std::chrono::steady_clock;
  explicit WaitingLoop(LampSession& session) : session_(session) {}

  void SetTimer(std::uint32_t id, std::uint32_t ms) override { timers_[id] = Clock::now() + std::chrono::milliseconds(ms); }
  void KillTimer(std::uint32_t id) override { timers_.erase(id); }
  bool IsTimerArmed(std::uint32_t id) const override { return timers_.count(id) != 0; }
  void RunAfterPause(std::uint32_t ms, std::function<void()> then) override {
    later_.push_back({Clock::now() + std::chrono::milliseconds(ms), std::move(then)});
  }
  bool SendChipAddress() override { return session_.SendChipAddressStep(); }
  // Any board whose id names a chip board: the owner asks what it is.
  bool IsChosenBoard(std::uint8_t id) const override { return FindChipBoard(id) != nullptr; }
  std::uint8_t BoardKind() const override { return kBoardKindRoundPage; }

  // Runs what is due (a step may arm more); returns when the next is due.
  Clock::time_point RunDue() {
    for (;;) {
      const auto now = Clock::now();
      auto pause = std::find_if(later_.begin(), later_.end(), [&](const auto& p) { return p.first <= now; });
      if (pause != later_.end()) {
        auto step = std::move(pause->second);
        later_.erase(pause);
        step();
        continue;
      }
      auto timer = std::find_if(timers_.begin(), timers_.end(), [&](const auto& t) { return t.second <= now; });
      if (timer != timers_.end()) {
        const std::uint32_t id = timer->first;
        timers_.erase(timer);
        session_.OnTimer(id);
        continue;
      }
      auto next = Clock::time_point::max();
      for (const auto& p : later_) next = std::min(next, p.first);
      for (const auto& t : timers_) next = std::min(next, t.second);
      return next;
    }
  }

 private:
  LampSession& session_;
  std::map<std::uint32_t, Clock::time_point> timers_;
  std::vector<std::pair<Clock::time_point, std::function<void()>>> later_;
};

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
  waiting_ = std::make_unique<WaitingLoop>(*this);
  host_ = waiting_.get();
  chipAddress_ = g_i2cAddress.load();
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

void LampSession::DriveFrom(SessionHost* host) { host_ = host ? host : waiting_.get(); }

void LampSession::SetLinkFlags(int present, int matched) {
  SetDevicePresent(present);
  SetBoardMatched(matched);
}

void LampSession::Observe(const Message& m) {
  if (IsInterruptReport(m)) ++pendingInterrupts_;
}

void LampSession::Feed(const Message& m) {
  Observe(m);
  if (!comm_->FirmwareUpdate()) {
    OnMessage(m);
    return;
  }
  // An update has the link: the board restarts into its bootloader and back
  // as the update says, not as a connect sequence would. The transport
  // follows the device; a link that went down is not taken as up later.
  if (m.id == platform::WM_DEVICECHANGE) {
    comm_->OnDeviceChange(static_cast<std::uint32_t>(m.wParam), 0);
  } else if (m.id == platform::kMsgLinkState) {
    if (static_cast<int>(m.wParam) != kLinkDeviceFound) NoteLinkDown();
    if (observer_) observer_->OnLinkState(static_cast<int>(m.wParam));
  } else {
    OnMessage(m);  // an answer of the sequence is noted as such
  }
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
      while (auto e = monitor_->ReadEvent()) Feed(Message{platform::WM_DEVICECHANGE, e->event});
    }
    // A node given with --device may be one the system sends no events for
    // (udev does not know it): during a firmware update, while the link is
    // down and the node is there, that counts as an arrival, so the board
    // that restarted into its bootloader (and back) is linked again.
    if (!options_.devicePath.empty() && comm_->FirmwareUpdate() && !comm_->Hid()->IsConnected()) {
      std::error_code ignored;
      if (std::filesystem::exists(options_.devicePath, ignored)) comm_->OnDeviceChange(platform::DBT_DEVICEARRIVAL, 0);
    }
    auto due = std::chrono::steady_clock::time_point::max();
    if (host_ == waiting_.get()) due = waiting_->RunDue();
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return std::nullopt;
    auto slice = std::min<std::chrono::milliseconds>(
        50ms, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + 1ms);
    if (due != std::chrono::steady_clock::time_point::max())
      slice = std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(due - now) + 1ms, 1ms, slice);
    auto m = queue_->Wait(slice);
    if (!m) continue;
    Feed(*m);
    if (want(*m)) return m;
  }
}

std::optional<std::string> LampSession::LinkEnded(const Message& m, const std::string& what) const {
  if (m.id != platform::kMsgLinkState) return std::nullopt;
  const int code = static_cast<int>(m.wParam);
  const char* text = LinkStateText(code);
  if (code == kLinkProtocolNotMatch)
    return std::string("Handshake failed:") + (text ? text : " unknown link state") + " Re-plug the board and try again.";
  // A failed link is recovered. One that went down is not used blindly,
  // even if a board has been linked again meanwhile (it may be another).
  if (code == kLinkFailed || !LinkStateIsDown(code)) return std::nullopt;
  return LostLink(what, code);
}

std::string LampSession::LostLink(const std::string& what, int code) {
  const char* text = LinkStateText(code);
  return "Link lost during the " + what + ":" + (text ? text : " unknown link state");
}

bool LampSession::DropStaleMessages(std::string& error, const std::string& what) {
  bool up = true;
  for (const Message& m : queue_->Drain()) {
    Feed(m);
    if (m.id != platform::kMsgLinkState) continue;  // a late answer to a request that is over
    if (auto ended = LinkEnded(m, what)) {
      error = *ended;
      up = false;
    }
  }
  if (!up) identified_ = false;
  return up;
}

std::optional<std::string> LampSession::BootloaderAttached() {
  if (!comm_->Hid()) return std::nullopt;
  const DeviceChoice choice = comm_->Hid()->Choice();
  for (const auto& d : List())
    if (choice.Matches(d) && d.releaseNumber == kReleaseBootloader)
      return d.serialNumber.empty() ? d.path : d.serialNumber + " (" + d.path + ")";
  return std::nullopt;
}

bool LampSession::BroughtUp() const {
  constexpr unsigned kAll = (1u << kConnectSteps) - 1;
  return linkUp_ && stepsAnswered_ == kAll && comm_->Hid() && comm_->Hid()->IsConnected();
}

std::string LampSession::PendingStep() const {
  if (!linkUp_) return "handshake";
  if (!(stepsAnswered_ & (1u << kStepAddress))) return "chip address command";
  if (!(stepsAnswered_ & (1u << kStepBoardQuery))) return "board query";
  return "firmware version query";
}

bool LampSession::SendChipAddressStep() {
  // Register commands use the address the board is told.
  if (!options_.ownLink) g_i2cAddress = chipAddress_;
  return sender_->SendChipCommand(kCmdSetChipAddress, &chipAddress_, 1) != 0;
}

bool LampSession::AwaitBroughtUp(std::string& error, const std::string& what, bool* notThere) {
  using Clock = std::chrono::steady_clock;
  if (BroughtUp()) return true;
  if (!comm_->Hid() || !comm_->Hid()->IsConnected()) {
    // Opened here; the handshake's answer starts the sequence.
    gaveUp_ = false;
    if (!comm_->Connect()) {
      if (notThere) *notThere = true;
      const std::string reason = comm_->Hid() ? comm_->Hid()->LastError() : std::string();
      if (const auto stuck = BootloaderAttached()) {
        // There, but in its bootloader (an update stopped before it ended):
        // "not found" would send the user looking for a cable fault.
        error = "The lamp board " + *stuck +
                " is in its bootloader (release 0x0100): an update did not finish. 'corvelctl flash FILE' "
                "finishes it with a firmware image.";
      } else {
        error = reason.empty()
                    ? "No lamp board found (USB 0483:5750). Check the cable; 'corvelctl list' shows what is attached."
                    : reason;
      }
      queue_->Drain();
      return false;
    }
    NoteLinkComingUp();
  } else if (comm_->LinkState() == kLinkDeviceFound && !linkUp_ && !gaveUp_ && !linkFailed_) {
    // Linked while nobody ran the sequence (a firmware update brought the
    // board back): its steps run now.
    OnLinkStateEvent(kLinkDeviceFound);
  }
  // Every step bounded: its asks, the recoveries, the settle pauses.
  const auto bound = std::chrono::milliseconds(
      (kMaxLinkRecoveries + 1) * (kConnectSettleMs + kConnectSteps * kConnectAsks * kConnectAnswerMs +
                                  2 * options_.stepPauseMs) +
      options_.timeoutMs);
  const auto deadline = Clock::now() + bound;
  for (;;) {
    if (BroughtUp()) return true;
    if (Interrupted()) {
      error = "Interrupted while waiting for the " + PendingStep() + ".";
      return false;
    }
    if (gaveUp_) {
      error = everUp_ ? GivenUp(what, unansweredStep_)
                      : "The board does not answer the handshake (tried on " + std::to_string(kMaxLinkRecoveries + 1) +
                            " connections). Re-plug it and try again.";
      return false;
    }
    const auto now = Clock::now();
    if (now >= deadline) {
      error = "No answer to the " + PendingStep() + " within " +
              std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(bound).count()) +
              " ms. The board may be frozen: re-plug it and try again.";
      return false;
    }
    auto m = Pump([](const Message& msg) { return msg.id == platform::kMsgLinkState; },
                  std::min<std::chrono::milliseconds>(
                      50ms, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + 1ms));
    if (!m) continue;
    if (auto ended = LinkEnded(*m, what)) {
      error = *ended;
      identified_ = false;
      return false;
    }
  }
}

std::optional<Message> LampSession::Request(const std::function<int()>& send,
                                        const std::function<bool(const Message&)>& isAnswer, std::string& error,
                                        const std::string& what) {
  using Clock = std::chrono::steady_clock;
  const auto timeout = std::chrono::milliseconds(options_.timeoutMs);
  int recoveries = 0;
  bool distrusted = false;  // asked again and again, every answer lost
  if (!DropStaleMessages(error, what)) return std::nullopt;
  for (;;) {
    if (distrusted) {
      // The link is reset rather than trusted further: as after a failure.
      distrusted = false;
      if (recoveries++ == kMaxRecoveries) {
        error = GivenUp(what);
        return std::nullopt;
      }
      OnLinkFailedEvent();
    }
    // A link that failed is being brought up again by the connect sequence:
    // the request goes once it is.
    bool notThere = false;
    if (!AwaitBroughtUp(error, what, &notThere)) {
      // The board this command had is gone (its read may fail before its
      // removal is announced): that is a lost link, not a board never found.
      if (notThere && everUp_) error = LostLink(what, kLinkDeviceNotFound);
      return std::nullopt;
    }
    const auto deadline = Clock::now() + timeout;  // each link gets the request's whole time
    if (!send()) {
      error = "The link refused the " + what + " (too many commands unanswered).";
      return std::nullopt;
    }
    int asks = 1;
    // Wait for the answer. Once the board has acknowledged the request (the
    // engine's window is empty), its answer is due soon; if it does not come
    // it was lost, and the request goes again.
    constexpr Clock::time_point kNotYet = Clock::time_point::max();
    Clock::time_point acknowledged = kNotYet;
    bool linkWent = false;
    while (!linkWent && !distrusted) {
      if (Interrupted()) {
        error = "Interrupted while waiting for the answer to the " + what + ".";
        return std::nullopt;
      }
      const auto now = Clock::now();
      if (now >= deadline) {
        error = "No answer to the " + what + " within " + std::to_string(options_.timeoutMs) +
                " ms. The board may be frozen: re-plug it and try again.";
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
        if (auto ended = LinkEnded(*m, what)) {
          error = *ended;
          identified_ = false;
          return std::nullopt;
        }
        if (!BroughtUp()) {
          // The link failed, and the connect sequence is recovering it:
          // counted, and the request goes again.
          if (recoveries++ == kMaxRecoveries) {
            error = GivenUp(what);
            return std::nullopt;
          }
          linkWent = true;
        }
        continue;
      }
      if (engine_->GetStats().windowCount != 0) {
        acknowledged = kNotYet;
      } else if (acknowledged == kNotYet) {
        acknowledged = Clock::now();
      } else if (Clock::now() - acknowledged > kAnswerAfterAck) {
        if (asks > kMaxAsksAgain) {
          distrusted = true;
        } else {
          if (!send()) {
            error = "The link refused the " + what + " (too many commands unanswered).";
            return std::nullopt;
          }
          ++asks;
          acknowledged = kNotYet;
        }
      }
    }
  }
}

bool LampSession::Connect(std::string& error) {
  if (BroughtUp()) return true;
  chipAddress_ = options_.ownLink ? chipAddress_ : g_i2cAddress.load();
  return AwaitBroughtUp(error, "connect sequence");
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
    chipAddress_ = address;  // what a reconnect tells the board again
    return true;
  }
  if (!options_.ownLink) g_i2cAddress = previous;
  if (!m) return false;
  answer = reinterpret_cast<const char*>(m->wParam);
  error = "The board refused chip address " + Hex2(address) + ": " + answer;
  return false;
}

bool LampSession::Identify(BoardInfo& info, std::uint8_t chipAddress, std::string& error) {
  if (!BroughtUp()) {
    chipAddress_ = chipAddress;
    if (!AwaitBroughtUp(error, "connect sequence")) return false;
  } else if (chipAddress != chipAddress_) {
    // Up already, at another address: the board is told this one.
    std::string answer;
    if (!SetChipAddress(chipAddress, answer, error) && answer.empty()) return false;
  }
  // What the connect sequence heard, in the words of a person.
  if (addressAnswer_ && addressAnswer_->wParam) {
    info.addressText = reinterpret_cast<const char*>(addressAnswer_->wParam);
    info.addressAccepted = addressAnswer_->id == platform::kMsgTextOk;
  }
  info.boardId = boardId_;
  info.chipBoard.clear();
  if (info.boardId)
    if (const auto* entry = FindChipBoard(*info.boardId)) info.chipBoard = entry->name;
  if (versions_) info.versions = *versions_;

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
  if (observer_) observer_->OnIdentified(info);
  return true;
}

bool LampSession::WaitForBoard(int timeoutMs) {
  // The chosen board (by serial number or path), not any other that is there.
  const DeviceChoice choice = comm_->Hid() ? comm_->Hid()->Choice() : DeviceChoice{};
  const auto accepted = [&] {
    for (const auto& d : List())
      if (choice.Matches(d) && (d.releaseNumber == kReleaseApplication || d.releaseNumber == kReleaseBootloader))
        return true;
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
      identified_ = false;
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
