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
// It tells its owner what happens through a SessionObserver; its owner waits
// on it (the blocking requests below).
#pragma once

#include <array>
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

  // Every attached board (of any choice), without opening anything.
  std::vector<HidDeviceInfo> List();

  // Opens the board and completes the handshake (link state 3). A handshake
  // whose answer is lost is asked again, and a link that fails meanwhile is
  // opened again, as for every other request.
  bool Connect(std::string& error);
  // Connect, then chip address, board query and version query, as the window
  // does when the link comes up.
  bool Identify(BoardInfo& info, std::uint8_t chipAddress, std::string& error);
  bool SetChipAddress(std::uint8_t address, std::string& answer, std::string& error);
  // Returns once a board is attached, or false after the timeout.
  bool WaitForBoard(int timeoutMs);
  // Interrupt reports (32, 37) with byte 0 = 1 come unasked. The session
  // counts each one it sees, whatever it waits for at the time, so that a
  // script's wait also catches a report that came during an earlier command.
  bool TakeInterrupt(int timeoutMs, std::string& error);

  bool Connected() const { return connected_; }
  bool Identified() const { return identified_; }
  int TimeoutMs() const { return options_.timeoutMs; }
  bool OwnLink() const { return options_.ownLink; }
  QVCommunication& Communication() { return *comm_; }
  ProtocolEngine& Engine() { return *engine_; }
  // The senders of this board (their reply timer on the session's queue).
  CommandSender& Commands() { return *sender_; }
  // Where this board's notices arrive (the process's main-window handle for
  // the process's board).
  platform::Handle Handle() const { return queue_.handle(); }

  // Waits for a message that `want` accepts, handling device changes on the
  // way (as the window would). Null after the timeout.
  std::optional<platform::Message> Pump(const std::function<bool(const platform::Message&)>& want,
                                        std::chrono::milliseconds timeout);

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
    return Request(send, isAnswer, error, what, RequestKind::kRecovering);
  }

  // Link resets and reconnects after a failed link, so far.
  int Recoveries() const { return recoveries_; }

 private:
  enum class RequestKind {
    kRecovering,  // a failed link is reset and reconnected, and the request goes again
    kHandshake,   // already sent by the connect; a failed link ends it (its caller reconnects)
  };
  std::optional<platform::Message> Request(const std::function<int()>& send,
                                           const std::function<bool(const platform::Message&)>& isAnswer,
                                           std::string& error, const std::string& what, RequestKind kind);
  std::optional<platform::Message> Request(const std::function<int()>& send,
                                           const std::function<bool(const platform::Message&)>& isAnswer,
                                           std::string& error, const std::string& what) {
    return Request(send, isAnswer, error, what, RequestKind::kRecovering);
  }
  // Looks at what arrived since the last request: device changes are
  // handled, a failed link is noted, late answers are dropped. False (with
  // `error`) when the link went down meanwhile.
  bool DropStaleMessages(std::string& error, const std::string& what);
  // Notes a link-state message; false when the link is gone.
  bool NoteLinkState(const platform::Message& m, std::string& error, const std::string& what);
  // Resets and reconnects a failed link. False with `error` when no board
  // could be opened or the link went down; false with the link still marked
  // failed when the handshake went unanswered again.
  bool RecoverLink(std::string& error, const std::string& what);
  // Waits for the answer to the handshake the connect sent, asking again as
  // for any request. False with `error`, or with the link marked failed.
  bool AwaitHandshake(std::string& error);
  void Observe(const platform::Message& m);
  // The only writer of the link flags: the process's board sets the
  // process's flags, a board of its own keeps them to itself.
  void SetLinkFlags(int present, int matched);

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
  bool connected_ = false;
  bool identified_ = false;
  int devicePresent_ = 0;
  int boardMatched_ = 0;
  int pendingInterrupts_ = 0;
  bool linkFailed_ = false;  // the engine gave up on a frame; reset and reconnect before the next request
  int recoveries_ = 0;
};

}  // namespace session
