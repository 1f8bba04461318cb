// One lamp session: for one board, the transport, the protocol engine and
// the connect / identify / recover sequence, with every request's answer
// awaited (and asked again when it was lost on the way). Pure C++.
//
// A session is either the process's board (the process-wide engine, its
// notices on the process's main-window handle, the link flags and
// g_pCommunication set) or a board of its own beside others (its own engine,
// its own notices, nothing process-wide touched): several of those run at
// once, one per board, for a bench that updates them all.
//
// It tells its owner what happens through a SessionObserver. There is one
// connect sequence (handshake, chip address, board query, version query;
// each step asked again when its answer was lost; a failed link reset and
// reconnected, and given up after kMaxLinkRecoveries), in
// LampSessionEvents.cpp, driven by messages and timers. A window drives it
// from its event loop (DriveFrom, Start, then every notice of the board and
// every timer handed to OnMessage and OnTimer); an owner that waits on the
// blocking requests below (a command-line tool) has it run on the session's
// own loop while it waits. The session is the only writer of the link flags.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/CommandSet.h"
#include "link/HidBackend.h"
#include "link/ProtocolEngine.h"
#include "link/QVCommunication.h"
#include "platform/DeviceMonitor.h"
#include "platform/MessageTarget.h"

struct BoardInfo {
  int linkState = -1;     // once identified
  std::string linkText;  // what identification came to, in words
  std::optional<std::uint8_t> boardId;
  std::string chipBoard;  // empty for an unknown id
  std::array<std::string, 3> versions;
  std::string addressText;  // the board's answer to the address command
  bool addressAccepted = false;
};

// The board's firmware version as the version record carries it: one
// character per byte of the third string.
std::string VersionText(const VersionRecord& record);

// A text notification (kMsgTextOk / kMsgTextFailed) carrying this text.
bool IsTextMessage(const platform::Message& m, std::uint32_t id, const char* text);

namespace session {

// What the session tells its owner, on the owner's thread (the one waiting
// on the session), as it happens.
class SessionObserver {
 public:
  virtual ~SessionObserver() = default;
  // Every link-state code the session hears of.
  virtual void OnLinkState(int code) {}
  // The link failed and is being reset and reconnected (the n-th time).
  virtual void OnLinkRecovering(int recoveries) {}
  // Identification ended (the board's id named a chip board or not).
  virtual void OnIdentified(const BoardInfo& info) {}

  // Driven from an event loop, the session also says:
  // The board is open and its handshake on its way.
  virtual void OnConnecting() {}
  // What a link state means for whoever shows it: whether the link is up
  // (the board answered its handshake), and its text, with the reason a
  // board could not be opened where there is one (none for a state without
  // a text).
  virtual void OnLinkShown(bool up, const std::optional<std::string>& text) {}
  // A board was removed that is back already (a re-plug, a restart): it is
  // being connected again, not missing.
  virtual void OnReopening() {}
  // The open device is the board's bootloader: attached and answering, but
  // nothing for the chip's pages until it runs its firmware again.
  virtual void OnInBootloader() {}
  // The board went away (or another was chosen): nothing written to it is
  // known to be on the next, and no answer to a request still waiting comes.
  virtual void OnBoardGone() {}
  // The link failed; `givingUp`: reconnecting did not help, the board needs
  // a re-plug (whose arrival connects it again).
  virtual void OnLinkFailed(bool givingUp) {}
  // The board's id answered the board query: the chosen board (matched), or
  // not (`id`: the id it answered, null for a reply too short to hold one).
  virtual void OnBoardMatched() {}
  virtual void OnBoardMismatch(std::optional<std::uint8_t> id) {}
  // The firmware version the board answered.
  virtual void OnVersion(const std::string& version) {}
};

// What a session driven from an event loop needs of its owner.
class SessionHost {
 public:
  virtual ~SessionHost() = default;
  // Timers that call LampSession::OnTimer(id) once, unless killed first.
  virtual void SetTimer(std::uint32_t id, std::uint32_t ms) = 0;
  virtual void KillTimer(std::uint32_t id) = 0;
  virtual bool IsTimerArmed(std::uint32_t id) const = 0;
  // Work for later that does not stop the loop meanwhile (0: its next turn).
  virtual void RunAfterPause(std::uint32_t ms, std::function<void()> then) = 0;
  // Sends the chip address the owner has chosen; false when it has none yet.
  virtual bool SendChipAddress() = 0;
  // Whether the board with this id is the one the owner works with.
  virtual bool IsChosenBoard(std::uint8_t id) const = 0;
  // The board kind the board query is asked for.
  virtual std::uint8_t BoardKind() const = 0;
};

struct LampSessionOptions {
  int timeoutMs = 5000;
  // A board of its own beside others (see above); false: the process's board.
  bool ownLink = false;
  // Which board, when several are attached.
  DeviceChoice choice;
  // A node given by path, which the system may send no events for: polled
  // while a firmware update has the link down.
  std::string devicePath;
  // The pause between the connect sequence's steps after the handshake. A
  // window keeps the board's classic pacing (LampSession::kConnectPauseMs);
  // an owner that waits has no reason to.
  std::uint32_t stepPauseMs = 0;
  // Once raised (a stop signal), an owner that waits stops waiting for the
  // board to come up or to answer (null: never).
  const std::atomic<bool>* interrupted = nullptr;
};

class LampSession {
 public:
  // `monitor`: the system's device events (null: none, as for simulated boards,
  // which post their own).
  LampSession(std::unique_ptr<HidBackend> backend, LampSessionOptions options,
              std::unique_ptr<platform::DeviceMonitor> monitor = nullptr);
  ~LampSession();
  LampSession(const LampSession&) = delete;
  LampSession& operator=(const LampSession&) = delete;

  void SetObserver(SessionObserver* observer) { observer_ = observer; }

  // The process's board while its session lives (null otherwise).
  static LampSession* Process();

  // Every attached board (of any choice), without opening anything.
  std::vector<HidDeviceInfo> List();

  // Opens the board and brings it up: the connect sequence (handshake, chip
  // address, board query, version query) runs on the session's own loop, the
  // same sequence a window drives from its event loop, with each step asked
  // again when its answer is lost and a failed link opened again. Returns
  // once every step was answered.
  bool Connect(std::string& error);
  // Connect with `chipAddress` as the chip address, then what the board
  // answered, in words.
  bool Identify(BoardInfo& info, std::uint8_t chipAddress, std::string& error);
  bool SetChipAddress(std::uint8_t address, std::string& answer, std::string& error);
  // Returns once a board is attached, or false after the timeout.
  bool WaitForBoard(int timeoutMs);
  // Interrupt reports (32, 37) with byte 0 = 1 come unasked. The session
  // counts each one it sees, whatever it waits for at the time, so that a
  // script's wait also catches a report that came during an earlier command.
  bool TakeInterrupt(int timeoutMs, std::string& error);

  bool Connected() const { return linkUp_; }
  bool Identified() const { return identified_ && linkUp_; }
  int TimeoutMs() const { return options_.timeoutMs; }
  bool OwnLink() const { return options_.ownLink; }
  QVCommunication& Communication() { return *comm_; }
  ProtocolEngine& Engine() { return *engine_; }
  // The senders of this board (their reply timer on the session's queue).
  CommandSender& Commands() { return *sender_; }
  // Where this board's notices arrive (the process's main-window handle for
  // the process's board).
  platform::Handle Handle() const { return queue_.handle(); }

  // Waits for a message that `want` accepts; meanwhile the session's own
  // loop runs (its connect sequence hears of link states and device changes,
  // its timers and pauses fire). Null after the timeout.
  std::optional<platform::Message> Pump(const std::function<bool(const platform::Message&)>& want,
                                        std::chrono::milliseconds timeout);

  // ---- driven from an event loop --------------------------------------------

  // Each step of the connect sequence waits this long for its answer (which
  // comes within milliseconds when it comes at all), then asks again; after
  // kConnectAsks asks the link counts as failed. Timer ids by step.
  enum ConnectStep { kStepHandshake, kStepAddress, kStepBoardQuery, kStepVersion, kConnectSteps };
  static constexpr std::uint32_t kConnectStepTimerBase = 20;
  static constexpr std::uint32_t kConnectAnswerMs = 1500;
  static constexpr int kConnectAsks = 3;
  // The pause between the steps after the handshake.
  static constexpr std::uint32_t kConnectPauseMs = 500;
  // Resets and reconnects after a failed link before the session gives up
  // and asks for a re-plug; the count starts again only once a link has
  // answered every step of the connect sequence (or a board is plugged in
  // or chosen anew).
  static constexpr int kMaxLinkRecoveries = 2;

  // From here on the session's timers and pauses run on `host`'s loop, and
  // its owner hands it the board's notices (OnMessage) and its timers
  // (OnTimer). The host outlives its use.
  void DriveFrom(SessionHost* host);
  // Opens the board; its handshake's answer brings it up.
  void Start();
  // A notice of the board (link state, device change, an answer of the
  // connect sequence): the session's part of it. The owner shows the rest.
  void OnMessage(const platform::Message& m);
  void OnTimer(std::uint32_t id);
  // The device monitor reported a change (arrival or removal).
  void OnDeviceChange(std::uint32_t event);
  // Asks the board which board it is (also when the owner wants it again,
  // after choosing another chip board).
  void QueryBoard();
  // Another board of several is to be linked: chosen by serial number where
  // it has one (a board's path changes when it restarts into its bootloader
  // and back). False when it is the one linked already.
  bool ChooseBoard(const HidDeviceInfo& board);
  // The reply timer ran out: the board did not come up, and saying that it
  // is still coming up would hide it.
  void StopComingUp() { comingUpSince_.reset(); }
  // The board is open and being brought up (settle pause, handshake,
  // identification, or a step still being asked again).
  bool LinkComingUp() const;
  // Attached, but not answering since the link failed.
  bool LinkFailed() const { return linkFailed_; }
  // The open device is the board's bootloader.
  bool InBootloader() const;

  // A board answers soon after it has acknowledged a request; past this its
  // answer was lost on the way and the request is sent again. Its own
  // largest frame (91 reports at 1 ms) and the I2C work of the largest
  // transfer fit more than twice.
  static constexpr std::chrono::milliseconds kAnswerAfterAck{250};
  // Link failures reset and reconnected within one request before it fails.
  static constexpr int kMaxRecoveries = 2;
  // An acknowledged request whose answer never comes is asked again this
  // many times; past that the link is not to be trusted, and it is reset and
  // reconnected as after a failure. One lost answer in ten leaves this
  // unused about once in a hundred thousand requests.
  static constexpr int kMaxAsksAgain = 5;

  // Sends a request (`send` returns the sender's result) and waits for the
  // message that `isAnswer` takes as its answer. An answer lost on the way
  // is asked for again, and a failed link is reset and reconnected first:
  // every request made here may safely be repeated (reads, writes of the
  // same bytes, queries). `isAnswer` sees every message that arrives
  // meanwhile, once. Link state 1 (a protocol event) does not end the wait;
  // a link that is gone does. Null with `error` set on failure.
  std::optional<platform::Message> Ask(const std::function<int()>& send,
                                       const std::function<bool(const platform::Message&)>& isAnswer,
                                       std::string& error, const std::string& what) {
    return Request(send, isAnswer, error, what);
  }

  // Link resets and reconnects after a failed link, so far.
  int Recoveries() const { return recoveries_; }

 private:
  class WaitingLoop;
  std::optional<platform::Message> Request(const std::function<int()>& send,
                                           const std::function<bool(const platform::Message&)>& isAnswer,
                                           std::string& error, const std::string& what);
  // Looks at what arrived since the last request: the connect sequence
  // hears of it, late answers are dropped. False (with `error`) when the
  // link went down meanwhile.
  bool DropStaleMessages(std::string& error, const std::string& what);
  // Waits until the connect sequence has brought the board up (opening it
  // first if it is not open). False with `error` when it gave up, the board
  // went, or it answered its handshake wrongly.
  // `notThere` is set when the board could not be opened at all.
  bool AwaitBroughtUp(std::string& error, const std::string& what, bool* notThere = nullptr);
  // The chosen board, attached in its bootloader (named by its serial
  // number and path); nothing when no such board is attached.
  std::optional<std::string> BootloaderAttached();
  // Every step of the connect sequence answered on the link that is up.
  bool BroughtUp() const;
  bool Interrupted() const { return options_.interrupted && options_.interrupted->load(); }
  // What the sequence is waiting for, in words.
  std::string PendingStep() const;
  // A link state that ends whatever was waiting on the link (the board went,
  // or answered its handshake wrongly), with the words for it; nothing for
  // others.
  std::optional<std::string> LinkEnded(const platform::Message& m, const std::string& what) const;
  // "Link lost during the <what>:" and the link state's words.
  static std::string LostLink(const std::string& what, int code);
  bool SendChipAddressStep();
  // Hands a message that came to the session's own queue on: to the connect
  // sequence, or, while a firmware update has the link, only a device change
  // to the transport.
  void Feed(const platform::Message& m);
  void Observe(const platform::Message& m);
  // The only writer of the link flags: the process's board sets the
  // process's flags, a board of its own keeps them to itself.
  void SetLinkFlags(int present, int matched);
  void SetBoardMatched(int matched);
  int BoardMatched() const;
  void SetDevicePresent(int present);

  // The event-driven connect sequence.
  void NoteLinkComingUp();
  void NoteInBootloader();
  bool LinkOpenButNotFound() const;
  void OnLinkStateEvent(int code);
  void OnBoardId(const platform::Message& reply);
  void OnLinkFailedEvent();
  void NoteLinkDown();
  void AwaitConnectAnswer(ConnectStep step, bool first, std::uint32_t ms = kConnectAnswerMs);
  // Notes a step answered on the link that is up; false when it was not
  // news (answered before, or no link up). The recoveries' count restarts
  // here, once every step is answered.
  bool NoteStepAnswered(ConnectStep step);
  // Sends the step after `answered` once the owner's pause is over.
  void NextConnectStep(ConnectStep answered);
  void ConnectAnswered(ConnectStep step);
  void StopConnectWaits();
  bool ConnectWaitArmed() const;
  void AskConnectStepAgain(ConnectStep step);
  void ShowLinkState(int code);
  // The steps after the handshake and their answers, for both drivers.
  int SendBoardQuery(std::uint8_t boardKind);
  int SendVersionQuery();
  static bool IsAddressAnswer(const platform::Message& m);
  static bool IsBoardQueryAnswer(const platform::Message& m);
  static bool IsVersionAnswer(const platform::Message& m);

  LampSessionOptions options_;
  platform::ScopedQueueTarget queue_;
  std::unique_ptr<platform::DeviceMonitor> monitor_;
  std::unique_ptr<ProtocolEngine> ownEngine_;  // a board of its own
  ProtocolEngine* engine_ = nullptr;
  std::unique_ptr<CommandSetReplies> replies_;
  std::unique_ptr<CommandSender> sender_;
  HidBackend* backend_ = nullptr;  // owned by the transport manager
  std::unique_ptr<QVCommunication> comm_;
  SessionObserver* observer_ = nullptr;
  bool identified_ = false;
  int devicePresent_ = 0;
  int boardMatched_ = 0;
  int pendingInterrupts_ = 0;
  int recoveries_ = 0;

  std::unique_ptr<WaitingLoop> waiting_;  // the session's own loop, for an owner that waits
  SessionHost* host_ = nullptr;           // the loop the session runs on
  std::array<int, kConnectSteps> connectAsks_{};  // asks of each step awaiting its answer
  int linkRecoveries_ = 0;         // since a link last answered every connect step
  bool linkFailed_ = false;  // attached, but not answering since the link failed
  // Counts connect sequences, so that a step still waiting for its pause can
  // tell that the link went down or started over meanwhile.
  std::uint64_t connectSequence_ = 0;
  // Since the board was last opened (start, arrival, reconnect): the settle
  // pause, the handshake and the identification take a few seconds.
  std::optional<std::chrono::steady_clock::time_point> comingUpSince_;
  // The link answered its handshake and has not gone down since; the steps
  // answered on it (a bit per ConnectStep), and what they answered.
  bool linkUp_ = false;
  bool everUp_ = false;  // some link of this session answered its handshake
  bool gaveUp_ = false;  // recovering did not help: the board needs a re-plug
  // The observer was told the board went, and none was opened since (none
  // at the start either): a "not found" again is no board going.
  bool goneTold_ = true;
  std::string unansweredStep_;  // of the connect sequence, when the link last failed
  unsigned stepsAnswered_ = 0;
  std::uint8_t chipAddress_ = 0;
  std::optional<platform::Message> addressAnswer_;
  std::optional<std::uint8_t> boardId_;
  // A board query went out and its answer has not come yet.
  bool boardQueryAsked_ = false;
  std::optional<std::array<std::string, 3>> versions_;
};

}  // namespace session
