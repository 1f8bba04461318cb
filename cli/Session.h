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

struct SessionOptions {
  bool sim = false;
  std::uint8_t simBoardId = 1;
  bool trace = false;
  int timeoutMs = 5000;
  std::uint8_t chipAddress = 0x5B;
  std::function<void(const std::string&)> traceOut;  // where --trace lines go
  std::function<void(const std::string&)> logOut;    // where --log's CSV rows go; empty: no log
};

struct BoardInfo {
  int linkState = -1;
  std::string linkText;
  std::optional<std::uint8_t> boardId;
  std::string chipBoard;  // empty for an unknown id
  std::array<std::string, 3> versions;
  std::string addressText;  // the board's answer to the address command
};

class Session {
 public:
  explicit Session(SessionOptions options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  std::vector<HidDeviceInfo> List();

  // Opens the board and completes the handshake (link state 3).
  bool Connect(std::string& error);
  // Connect, then chip address, board query and version query, as the window
  // does when the link comes up.
  bool Identify(BoardInfo& info, std::string& error);
  bool SetChipAddress(std::uint8_t address, std::string& answer, std::string& error);
  bool ReadRegisters(std::uint8_t reg, std::uint8_t count, std::vector<std::uint8_t>& values, std::string& error);
  bool WriteRegisters(std::uint8_t reg, std::span<const std::uint8_t> values, std::string& error);
  // Returns once a board is attached, or false after the timeout.
  bool WaitForBoard(int timeoutMs);

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

 private:
  std::optional<platform::Message> AwaitReply(std::initializer_list<std::uint32_t> ids, std::string& error,
                                              const char* what);

  SessionOptions options_;
  platform::ScopedQueueTarget main_;
  std::unique_ptr<platform::DeviceMonitor> monitor_;
  std::unique_ptr<sim::SimBoard> board_;
  std::unique_ptr<CQVProtocol> protocol_;
  HidBackend* backend_ = nullptr;
  std::unique_ptr<QVCommunication> comm_;
  bool connected_ = false;
  bool identified_ = false;
};
