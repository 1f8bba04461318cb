// The lamp session driven from its owner's event loop: the connect sequence
// runs as steps on that loop, so that a window keeps painting and answering
// while the board settles, answers and is identified.
#include "link/BoardIds.h"
#include "link/CommandSet.h"
#include "link/LinkHost.h"
#include "link/MUSBHid.h"
#include "platform/Messages.h"
#include "session/LampSession.h"
#include "session/LinkFlags.h"

using platform::Message;

std::string VersionText(const VersionRecord& record) {
  // One character per byte: bytes above 0x7F are the characters of the same
  // number, written as UTF-8.
  std::string text;
  for (unsigned char c : record.strings[2]) {
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else {
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

namespace session {

void LampSession::SetBoardMatched(int matched) {
  boardMatched_ = matched;
  if (!options_.ownLink) g_bBoardMatched = matched;
}

void LampSession::SetDevicePresent(int present) {
  devicePresent_ = present;
  if (!options_.ownLink) g_bDevicePresent = present;
}

int LampSession::BoardMatched() const { return options_.ownLink ? boardMatched_ : g_bBoardMatched; }

void LampSession::Start() {
  comm_->Reconnect();
  NoteLinkComingUp();
}

void LampSession::OnDeviceChange(std::uint32_t event) {
  comm_->OnDeviceChange(event, 0);
  NoteLinkComingUp();
}

void LampSession::OnMessage(const Message& m) {
  switch (m.id) {
    case platform::kMsgLinkState: OnLinkStateEvent(static_cast<int>(m.wParam)); return;
    case platform::WM_DEVICECHANGE: OnDeviceChange(static_cast<std::uint32_t>(m.wParam)); return;
    default: break;
  }
  if (IsVersionAnswer(m)) {
    ConnectAnswered(kStepVersion);
    NoteStepAnswered(kStepVersion);
    const auto* record = m.PayloadAs<VersionRecord>();
    if (record) versions_ = record->strings;
    if (observer_) observer_->OnVersion(record ? VersionText(*record) : std::string());
  } else if (IsBoardQueryAnswer(m)) {
    // The same reply answers the effect upload (64, 1): only the answer to a
    // board query the session asked identifies the board.
    if (boardQueryAsked_) OnBoardId(m);
  } else if (IsAddressAnswer(m)) {
    ConnectAnswered(kStepAddress);
    addressAnswer_ = m;
    if (NoteStepAnswered(kStepAddress)) NextConnectStep(kStepAddress);
  }
}

bool LampSession::NoteStepAnswered(ConnectStep step) {
  const unsigned bit = 1u << step;
  // An answer on no link (a late one to the link before) moves nothing on.
  if (!linkUp_ || (stepsAnswered_ & bit)) return false;
  stepsAnswered_ |= bit;
  // The one rule for the recoveries' count: it starts again only once a link
  // has answered every step of the connect sequence. A board that answers
  // some steps and never another is given up like one that answers none.
  constexpr unsigned kAll = (1u << kConnectSteps) - 1;
  if (stepsAnswered_ == kAll) linkRecoveries_ = 0;
  return true;
}

// Each step goes once the one before it was answered (after the owner's
// pause): a board is not asked which board it is before it has taken the
// chip address, nor for its version before it said which board it is.
void LampSession::NextConnectStep(ConnectStep answered) {
  if (!host_) return;
  const std::uint64_t sequence = connectSequence_;
  host_->RunAfterPause(options_.stepPauseMs, [this, sequence, answered] {
    if (sequence != connectSequence_) return;  // the link went down or started over
    if (answered == kStepAddress) {
      QueryBoard();
    } else {
      SendVersionQuery();
      AwaitConnectAnswer(kStepVersion, true);
    }
  });
}

void LampSession::OnTimer(std::uint32_t id) {
  if (id >= kConnectStepTimerBase && id < kConnectStepTimerBase + kConnectSteps)
    AskConnectStepAgain(static_cast<ConnectStep>(id - kConnectStepTimerBase));
}

bool LampSession::InBootloader() const {
  return comm_->Hid() && comm_->Hid()->IsConnected() && comm_->Hid()->DeviceIsBootloader();
}

bool LampSession::LinkOpenButNotFound() const {
  return comm_->Hid() && comm_->Hid()->IsConnected() && !comm_->Hid()->DeviceIsBootloader() &&
         comm_->LinkState() != kLinkDeviceFound;
}

bool LampSession::LinkComingUp() const {
  // Settle pause, handshake, two connect pauses and a reply: a board that
  // takes longer than this is reported as not connected again.
  const auto kIdentifyWithin = std::chrono::milliseconds(kConnectSettleMs + 2 * options_.stepPauseMs + kReplyTimeoutMs);
  // Or longer while a step of the connect sequence is still being asked.
  return comm_->Hid() && comm_->Hid()->IsConnected() && BoardMatched() == 0 && !linkFailed_ &&
         ((comingUpSince_ && std::chrono::steady_clock::now() - *comingUpSince_ < kIdentifyWithin) ||
          ConnectWaitArmed());
}

// Attached and answering its bootloader: not coming up as a lamp board, and
// nothing for the chip's pages until it runs its firmware again.
void LampSession::NoteInBootloader() {
  SetBoardMatched(0);
  comingUpSince_.reset();
  if (observer_) observer_->OnInBootloader();
}

void LampSession::NoteLinkComingUp() {
  if (InBootloader()) {
    NoteInBootloader();
    return;
  }
  if (comm_->Hid() && comm_->Hid()->IsConnected()) goneTold_ = false;  // a board is there to go
  if (comm_->Hid() && comm_->Hid()->IsConnected() && BoardMatched() == 0)
    comingUpSince_ = std::chrono::steady_clock::now();
  // A link just opened waits for the handshake's answer: first the settle
  // pause, then the answer's time.
  // The handshake's answer may have beaten us here (a connect without a
  // settle pause): its link state is set, its notice still on its way.
  const bool answeredNotYetHeard = comm_->Hid() && comm_->Hid()->IsConnected() &&
                                   !comm_->Hid()->DeviceIsBootloader() &&
                                   comm_->LinkState() == kLinkDeviceFound && !linkUp_ && BoardMatched() == 0;
  if (LinkOpenButNotFound() || answeredNotYetHeard) {
    if (!answeredNotYetHeard) AwaitConnectAnswer(kStepHandshake, true, kConnectSettleMs + kConnectAnswerMs);
    // The board is there and its handshake is on its way: whatever was said
    // of the link before (its removal, say) is over.
    if (observer_) observer_->OnConnecting();
  }
}

void LampSession::AwaitConnectAnswer(ConnectStep step, bool first, std::uint32_t ms) {
  if (first) connectAsks_[step] = 1;
  if (host_) host_->SetTimer(kConnectStepTimerBase + step, ms);
}

void LampSession::ConnectAnswered(ConnectStep step) {
  connectAsks_[step] = 0;
  if (host_) host_->KillTimer(kConnectStepTimerBase + step);
}

void LampSession::StopConnectWaits() {
  for (int step = 0; step < kConnectSteps; ++step) ConnectAnswered(static_cast<ConnectStep>(step));
}

bool LampSession::ConnectWaitArmed() const {
  if (!host_) return false;
  for (int step = 0; step < kConnectSteps; ++step)
    if (host_->IsTimerArmed(kConnectStepTimerBase + step)) return true;
  return false;
}

// The answer did not come although the command was acknowledged (a lossy
// link loses answers too): the step is asked again, and when that does not
// help either the link is taken as failed and recovered as such. Saying "not
// found" or "id not match" would be false: the board is there.
void LampSession::AskConnectStepAgain(ConnectStep step) {
  if (!comm_->Hid() || !comm_->Hid()->IsConnected() || InBootloader()) {
    ConnectAnswered(step);
    return;
  }
  if (connectAsks_[step] >= kConnectAsks) {
    StopConnectWaits();
    OnLinkFailedEvent();
    return;
  }
  ++connectAsks_[step];
  AwaitConnectAnswer(step, false);
  switch (step) {
    case kStepHandshake: engine_->SendHandshake(); break;
    case kStepAddress: if (host_) host_->SendChipAddress(); break;
    case kStepBoardQuery: QueryBoard(); break;
    case kStepVersion: SendVersionQuery(); break;
    case kConnectSteps: break;
  }
}

void LampSession::QueryBoard() {
  boardQueryAsked_ = true;
  SendBoardQuery(host_ ? host_->BoardKind() : kBoardKindRoundPage);
  // A query of its own (not a repeat) starts its count afresh.
  if (connectAsks_[kStepBoardQuery] == 0 || !host_ || !host_->IsTimerArmed(kConnectStepTimerBase + kStepBoardQuery))
    AwaitConnectAnswer(kStepBoardQuery, true);
}

void LampSession::NoteLinkDown() {
  linkUp_ = false;
  stepsAnswered_ = 0;
}

void LampSession::OnLinkStateEvent(int code) {
  if (observer_) observer_->OnLinkState(code);
  if (code == kLinkDeviceFound || code == kLinkDeviceNotFound) linkFailed_ = false;
  if (code != kLinkDeviceFound && (code == kLinkFailed || code == kLinkProtocolNotMatch || LinkStateIsDown(code)))
    NoteLinkDown();
  switch (code) {
    case kLinkDeviceFound: {
      // With several boards attached, the one linked is the one chosen from
      // now on: when it goes away the link waits for it (or for another to
      // be picked) instead of taking whichever board is left.
      if (CMUSBHid* hid = comm_->Hid(); hid && hid->Choice().Any() && comm_->ListBoards().size() > 1) {
        DeviceChoice choice;
        choice.serial = hid->OpenDeviceSerial();
        if (!choice.serial.empty()) hid->SetDeviceChoice(choice);
      }
      SetDevicePresent(1);
      goneTold_ = false;
      SetBoardMatched(0);
      ConnectAnswered(kStepHandshake);
      // A new link: what the last one answered is not this one's.
      linkUp_ = everUp_ = true;
      gaveUp_ = false;
      stepsAnswered_ = 0;
      NoteStepAnswered(kStepHandshake);
      addressAnswer_.reset();
      boardId_.reset();
      versions_.reset();
      // The pauses between the steps run on the owner's loop: a window
      // paints and answers meanwhile, and as the board is not identified
      // yet, its pages treat a click that would send as they do before
      // identification.
      ++connectSequence_;
      if (host_ && host_->SendChipAddress()) {
        AwaitConnectAnswer(kStepAddress, true);
      } else if (NoteStepAnswered(kStepAddress)) {  // no address to tell it
        NextConnectStep(kStepAddress);
      }
      break;
    }
    case kLinkFailed:
      StopConnectWaits();
      OnLinkFailedEvent();
      return;
    case kLinkProtocolNotMatch:
      ConnectAnswered(kStepHandshake);  // answered, wrongly: asking again would not help
      SetBoardMatched(0);
      break;
    case kLinkDeviceNotFound:
      if (LinkOpenButNotFound()) {
        // The removal of a board that is back already (a re-plug, a
        // restart): its new link is on its way; the board is not missing.
        SetDevicePresent(0);
        SetBoardMatched(0);
        // It is a new chip all the same: what was known of the old one, its
        // version and the answers still awaited went with the removal.
        if (observer_) {
          observer_->OnBoardGone();
          observer_->OnReopening();
        }
        return;
      }
    {
      // Told once, when a board goes: while none is there, each "not found"
      // again must not wipe what the person set meanwhile (the pages keep
      // it and say there is no board to take it).
      const bool tell = !goneTold_ || devicePresent_ != 0 || BoardMatched() == 1;
      goneTold_ = true;
      StopConnectWaits();
      SetDevicePresent(0);
      linkRecoveries_ = 0;  // the next board plugged in starts afresh
      ++connectSequence_;   // nothing more goes to a board that has gone
      if (observer_ && tell) observer_->OnBoardGone();
    }
      [[fallthrough]];
    default:
      SetBoardMatched(0);
      break;
  }
  // The removal of a board that restarted into its bootloader is handled
  // after the bootloader has been opened: it is there, not gone.
  if (InBootloader()) {
    NoteInBootloader();
    return;
  }
  ShowLinkState(code);
}

void LampSession::ShowLinkState(int code) {
  if (!observer_) return;
  std::optional<std::string> shown;
  if (const char* text = comm_->GetLinkStateText()) {
    shown = text;
    // A board that is there but cannot be opened, or a given device path
    // that is wrong: the text says why, not just "not found".
    const std::string reason = code == kLinkDeviceNotFound && comm_->Hid() ? comm_->Hid()->LastError() : std::string();
    if (!reason.empty()) *shown += " " + reason;
  }
  observer_->OnLinkShown(code == kLinkDeviceFound, shown);
}

void LampSession::OnLinkFailedEvent() {
  constexpr unsigned kAll = (1u << kConnectSteps) - 1;
  unansweredStep_ = !linkUp_ ? std::string("handshake") : stepsAnswered_ == kAll ? std::string() : PendingStep();
  StopConnectWaits();
  NoteLinkDown();
  linkFailed_ = true;
  ++connectSequence_;  // the steps of the connect sequence under way are for the lost link
  SetBoardMatched(0);
  const bool givingUp = linkRecoveries_ >= kMaxLinkRecoveries;
  if (givingUp) gaveUp_ = true;
  if (observer_) observer_->OnLinkFailed(givingUp);
  // Reconnecting did not help: the board needs a re-plug, whose arrival
  // connects it again.
  if (givingUp || !host_) return;
  ++linkRecoveries_;
  ++recoveries_;
  if (observer_) observer_->OnLinkRecovering(linkRecoveries_);
  // After the owner has shown the failure: the reconnect starts the usual
  // connect sequence, and the handshake's answer brings the board back.
  host_->RunAfterPause(0, [this] {
    comm_->Reconnect();
    NoteLinkComingUp();
  });
}

void LampSession::OnBoardId(const Message& reply) {
  boardQueryAsked_ = false;
  ConnectAnswered(kStepBoardQuery);  // a re-query after a mismatch arms it again
  SetBoardMatched(0);
  const auto* bytes = reply.Bytes();
  // A reply too short to carry an id names no board.
  const auto id = bytes ? BoardIdFromReply(*bytes) : std::nullopt;
  // The first answer on this link moves the sequence on; one to a query of
  // the owner's own (another chip board chosen) does not.
  if (NoteStepAnswered(kStepBoardQuery)) NextConnectStep(kStepBoardQuery);
  boardId_ = id;
  if (id && host_ && host_->IsChosenBoard(*id)) {
    SetBoardMatched(1);
    comingUpSince_.reset();  // it came up: from now on "not connected" is news
    if (observer_) observer_->OnBoardMatched();
  } else if (observer_) {
    observer_->OnBoardMismatch(id);
  }
}

bool LampSession::ChooseBoard(const HidDeviceInfo& board) {
  if (!comm_->Hid()) return false;
  DeviceChoice choice;
  if (board.serialNumber.empty()) choice.path = board.path;
  else choice.serial = board.serialNumber;
  const DeviceChoice before = comm_->Hid()->Choice();
  const bool same = comm_->Hid()->IsConnected() && comm_->Hid()->DevicePath() == board.path;
  comm_->Hid()->SetDeviceChoice(choice);
  if (same && before.serial == choice.serial && before.path == choice.path) return false;
  // The old board's removal, then the new one's link: handled as a re-plug.
  comm_->Disconnect();
  comm_->PostLinkState();
  comm_->Connect();
  // What was known of the old board's chip, its version and its waits are
  // not the new one's.
  StopConnectWaits();
  NoteLinkDown();
  ++connectSequence_;
  SetBoardMatched(0);
  linkRecoveries_ = 0;
  if (observer_) observer_->OnBoardGone();
  NoteLinkComingUp();
  return true;
}

}  // namespace session
