// One connection of the command-line tool to a lamp board, real or simulated:
// the same link core and connect sequence as the window, with replies awaited
// instead of fixed pauses.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/HidBackend.h"
#include "link/QVCommunication.h"
#include "link/QVProtocol.h"
#include "platform/DeviceMonitor.h"
#include "platform/MessageTarget.h"
#include "sim/SimBoard.h"
#include "sim/SimKnobs.h"

struct SessionOptions {
  bool sim = false;
  std::uint8_t simBoardId = 1;
  std::string devicePath;  // --device: only this hidraw node, no enumeration
  // The simulated board's timing and faults: a real board's timing unless
  // the user (--sim-latency, --sim-faults) or a test says otherwise.
  sim::SimFaults simFaults = sim::RealisticTiming();
  // Seeds the simulated board's fault generator: another seed, other frames lost.
  std::uint32_t simSeed = 1;
  // The simulated chip's own I2C address: it answers at no other.
  std::uint8_t simChipAddress = 0x5B;
  bool trace = false;
  int timeoutMs = 5000;
  std::uint8_t chipAddress = 0x5B;
  std::function<void(const std::string&)> traceOut;  // where --trace lines go
  std::function<void(const std::string&)> logOut;    // where --log's CSV rows go; empty: no log
};

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

class Session {
 public:
  explicit Session(SessionOptions options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  std::vector<HidDeviceInfo> List();

  // Opens the board and completes the handshake (link state 3). A handshake
  // whose answer is lost is asked again, and a link that fails meanwhile is
  // opened again, as for every other request.
  bool Connect(std::string& error);
  // Connect, then chip address, board query and version query, as the window
  // does when the link comes up.
  bool Identify(BoardInfo& info, std::string& error);
  bool SetChipAddress(std::uint8_t address, std::string& answer, std::string& error);
  bool ReadRegisters(std::uint8_t reg, std::uint8_t count, std::vector<std::uint8_t>& values, std::string& error);
  bool WriteRegisters(std::uint8_t reg, std::span<const std::uint8_t> values, std::string& error);
  // Returns once a board is attached, or false after the timeout.
  bool WaitForBoard(int timeoutMs);
  // Interrupt reports (32, 37) with byte 0 = 1 come unasked. The session
  // counts each one it sees, whatever it waits for at the time, so that a
  // script's wait also catches a report that came during an earlier command.
  // Takes one such report, waiting up to `timeoutMs` for it; false (with the
  // reason) when none came or the link went down.
  bool TakeInterrupt(int timeoutMs, std::string& error);

  bool Connected() const { return connected_; }
  int TimeoutMs() const { return options_.timeoutMs; }
  bool Identified() const { return identified_; }
  sim::SimBoard* Sim() { return board_.get(); }
  QVCommunication& Communication() { return *comm_; }
  platform::Handle MainHandle() const { return main_.handle(); }

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

  // Sends a request and waits for its answer, as the register commands do
  // (see Request): for command chains built outside the session. `send` may
  // be called more than once, and `isAnswer` sees every message that
  // arrives meanwhile, once.
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
  // Sends a request (`send` returns the sender's result) and waits for the
  // message that `isAnswer` takes as its answer. An answer lost on the way
  // is asked for again, and a failed link is reset and reconnected first:
  // every request made here may safely be repeated (reads, writes of the
  // same bytes, queries, the handshake). Link state 1 (a protocol event)
  // does not end the wait; a link that is gone does. Null with `error` set
  // on failure.
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

  SessionOptions options_;
  platform::ScopedQueueTarget main_;
  std::unique_ptr<platform::DeviceMonitor> monitor_;
  std::unique_ptr<sim::SimBoard> board_;
  std::unique_ptr<CQVProtocol> protocol_;
  HidBackend* backend_ = nullptr;
  std::unique_ptr<QVCommunication> comm_;
  bool connected_ = false;
  bool identified_ = false;
  int pendingInterrupts_ = 0;
  bool linkFailed_ = false;  // the engine gave up on a frame; reset and reconnect before the next request
  int recoveries_ = 0;
};
