// A connection to one lamp board, real or simulated: the lamp session (the
// same link core and connect sequence as the window, with replies awaited
// instead of fixed pauses) with what a program beside the window adds: the
// simulated bench, the chosen board, the trace and the register commands.
//
// Either the process's board (corvelctl: the process-wide engine and link
// flags, as the window has them) or, with `ownLink`, a board of its own
// beside others: its own engine, chip address and register commands, so that
// several boards are driven at once from several threads.
#pragma once

#include <atomic>
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
#include "link/LinkHost.h"
#include "link/QVProtocol.h"
#include "platform/MessageTarget.h"
#include "session/LampSession.h"
#include "sim/SimBoard.h"
#include "sim/SimKnobs.h"

struct SessionOptions {
  bool sim = false;
  std::uint8_t simBoardId = 1;
  // --sim=1,3,5: a bench of several simulated boards with these ids (and
  // serial numbers QVSIM0001, QVSIM0002, ...); empty: one, simBoardId.
  std::vector<std::uint8_t> simBoardIds;
  std::string devicePath;  // --device: only this hidraw node, no enumeration
  std::string serial;      // --serial: only the board with this serial number
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
  // Raised by a stop signal: ends a wait for the board (null: never).
  const std::atomic<bool>* interrupted = nullptr;
  // A board of its own beside others (see above).
  bool ownLink = false;
};

class Session {
 public:
  explicit Session(SessionOptions options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  std::vector<HidDeviceInfo> List() { return lamp_->List(); }

  bool Connect(std::string& error) { return lamp_->Connect(error); }
  bool Identify(BoardInfo& info, std::string& error) { return lamp_->Identify(info, ChipAddress(), error); }
  // The chip address register commands go to.
  std::uint8_t ChipAddress() const;
  bool SetChipAddress(std::uint8_t address, std::string& answer, std::string& error);
  bool ReadRegisters(std::uint8_t reg, std::uint8_t count, std::vector<std::uint8_t>& values, std::string& error);
  bool WriteRegisters(std::uint8_t reg, std::span<const std::uint8_t> values, std::string& error);
  // Whether register commands may go out to this board now.
  bool AccessAllowed() const;
  // Sends one register command without awaiting its answer (for a chain
  // that awaits its answers itself): 1 when queued, 0 when not sent.
  int SendRegisterWrite(std::uint8_t reg, std::span<const std::uint8_t> values);
  int SendRegisterRead(std::uint8_t reg, std::uint8_t count);
  bool WaitForBoard(int timeoutMs) { return lamp_->WaitForBoard(timeoutMs); }
  bool TakeInterrupt(int timeoutMs, std::string& error) { return lamp_->TakeInterrupt(timeoutMs, error); }

  bool Connected() const { return lamp_->Connected(); }
  int TimeoutMs() const { return options_.timeoutMs; }
  bool Identified() const { return lamp_->Identified(); }
  // The simulated board this session talks to (the chosen one of a bench).
  sim::SimBoard* Sim();
  // Every simulated board of the bench, in the order of their ids.
  const std::vector<std::unique_ptr<sim::SimBoard>>& SimBoards() const { return boards_; }
  // Points a simulated board's arrivals and removals at `handle` (kNoHandle:
  // back at this session).
  void RouteSimEvents(sim::SimBoard& board, platform::Handle handle);
  const SessionOptions& Options() const { return options_; }
  QVCommunication& Communication() { return lamp_->Communication(); }
  session::LampSession& Lamp() { return *lamp_; }
  platform::Handle MainHandle() const { return lamp_->Handle(); }

  std::optional<platform::Message> Pump(const std::function<bool(const platform::Message&)>& want,
                                        std::chrono::milliseconds timeout) {
    return lamp_->Pump(want, timeout);
  }

  static constexpr std::chrono::milliseconds kAnswerAfterAck = session::LampSession::kAnswerAfterAck;
  static constexpr int kMaxRecoveries = session::LampSession::kMaxRecoveries;
  static constexpr int kMaxAsksAgain = session::LampSession::kMaxAsksAgain;
  static constexpr int kConnectAsks = session::LampSession::kConnectAsks;

  std::optional<platform::Message> Ask(const std::function<int()>& send,
                                       const std::function<bool(const platform::Message&)>& isAnswer,
                                       std::string& error, const std::string& what) {
    return lamp_->Ask(send, isAnswer, error, what);
  }
  int Recoveries() const { return lamp_->Recoveries(); }

 private:
  SessionOptions options_;
  std::vector<std::unique_ptr<sim::SimBoard>> boards_;
  std::unique_ptr<session::LampSession> lamp_;
  std::atomic<std::uint8_t> chipAddress_;  // a board of its own: its chip address
};
