// Start-up and shut-down: the long-lived objects (chip registry, protocol
// object, the board's lamp session with its transport manager) are made in order, the main window runs, and
// everything is torn down in order, the reader thread before the transport
// manager it calls into.
#pragma once

#include <QPoint>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/MessageTarget.h"
#include "sim/SimKnobs.h"

namespace sim {
class SimBoard;
}
namespace platform {
class DeviceMonitor;
}
class CQVProtocol;
class QVChip;
class QVCommunication;
class TrafficCapture;
namespace session {
class LampSession;
}

struct AppOptions {
  std::optional<std::uint8_t> simulateBoardId;  // set: run against the simulated board
  std::vector<std::uint8_t> simulateBoardIds;   // several: a bench of simulated boards
  std::string serial;                           // set: the board with this serial number (--serial)
  sim::SimFaults simFaults = sim::RealisticTiming();  // its timing and faults
  std::uint8_t simChipAddress = 0x5B;           // its chip answers at this I2C address only
  std::string devicePath;                       // set: only this hidraw node (--device)
  QString screenshotPath;                       // set: save a picture and quit
  int screenshotAfterMs = 3000;
};

class CCorvelGUIApp {
 public:
  explicit CCorvelGUIApp(AppOptions options);
  ~CCorvelGUIApp();

  // Builds the long-lived objects.
  bool CreateObjects();
  // Shows the chip registry's window and runs it; returns when it closes.
  int Run();
  void DestroyObjects();

  static void SetMainDialogHandle(platform::Handle handle);
  static platform::Handle GetMainDialogHandle();
  static QPoint PlaceMainWindow(const QSize& screen, const QSize& window);

  sim::SimBoard* SimulatedBoard() { return m_board.get(); }
  // The simulated board the window is linked to (or has chosen).
  sim::SimBoard* LinkedSimBoard();
  // Why the device given with --device could not be opened at start-up
  // (missing, not permitted, no HID device); empty when it could.
  const std::string& DeviceProblem() const { return m_deviceProblem; }
  // The caption band's menu of the simulated board (unplug, plug, interrupt,
  // register panel); Run adds it, tests that prepare the window themselves
  // may too.
  void AddSimulationActions();

 private:

  AppOptions m_options;
  std::string m_deviceProblem;
  std::unique_ptr<sim::SimBoard> m_board;  // the first of the bench
  std::vector<std::unique_ptr<sim::SimBoard>> m_moreBoards;  // the rest
  std::unique_ptr<platform::DeviceMonitor> m_monitor;
  std::unique_ptr<CQVProtocol> m_protocol;
  std::unique_ptr<TrafficCapture> m_traffic;  // outlives the transport that feeds it
  // Reached by everyone through g_pChip and g_pCommunication; owned here.
  std::unique_ptr<QVChip> m_chip;
  // The process's board: its transport, protocol and connect sequence,
  // which the main window drives from its event loop.
  std::unique_ptr<session::LampSession> m_session;
};
