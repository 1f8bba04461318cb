#include "app/CorvelGUIApp.h"

#include <QAction>
#include <QApplication>
#include <QProxyStyle>
#include <QTimer>
#include <cstdio>

#include "app/ChipRegistry.h"
#include "app/MainWindow.h"
#include "app/SimRegisterPanel.h"
#include "app/ToolPages.h"
#include "pages/RoundPage.h"
#include "link/HidapiBackend.h"
#include "link/LinkHost.h"
#include "link/MUSBHid.h"
#include "link/QVCommunication.h"
#include "link/QVProtocol.h"
#include "sim/SimBackend.h"
#include "link/TrafficCapture.h"
#include "platform/DeviceMonitor.h"
#include "platform/Messages.h"
#include "platform/qt/QtDialogs.h"
#include "session/LampSession.h"
#include "sim/SimBoard.h"

CCorvelGUIApp::CCorvelGUIApp(AppOptions options) : m_options(options) {}

CCorvelGUIApp::~CCorvelGUIApp() { DestroyObjects(); }

void CCorvelGUIApp::SetMainDialogHandle(platform::Handle handle) { corvel::SetMainDialogHandle(handle); }
platform::Handle CCorvelGUIApp::GetMainDialogHandle() { return corvel::GetMainDialogHandle(); }

// Centred across, two fifths of the free height above it.
QPoint CCorvelGUIApp::PlaceMainWindow(const QSize& screen, const QSize& window) {
  return QPoint((screen.width() - window.width() + 1) / 2, (2 * (screen.height() - window.height()) + 2) / 5);
}

namespace {
// Tooltips come up after 500 ms on the main window and after 800 ms on the
// LED board page.
class CorvelStyle final : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == QStyle::SH_ToolTip_WakeUpDelay)
      return (widget && g_pRoundPage && g_pRoundPage->isAncestorOf(widget)) ? 800 : 500;
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
};
}  // namespace

bool CCorvelGUIApp::CreateObjects() {
  platform::InstallQtDialogs();
  if (qApp && !dynamic_cast<CorvelStyle*>(QApplication::style())) QApplication::setStyle(new CorvelStyle);
  m_chip = std::make_unique<QVChip>();
  g_pChip = m_chip.get();

  m_protocol = std::make_unique<CQVProtocol>();
  m_protocol->UseCrc16();
  g_pProtocol = m_protocol.get();

  std::unique_ptr<HidBackend> backend;
  if (m_options.simulateBoardId) {
    const std::vector<std::uint8_t> ids = m_options.simulateBoardIds.empty()
                                              ? std::vector<std::uint8_t>{*m_options.simulateBoardId}
                                              : m_options.simulateBoardIds;
    std::vector<sim::SimBoard*> bench;
    for (std::size_t i = 0; i < ids.size(); ++i) {
      sim::SimConfig config;
      config.boardId = ids[i];
      config.serialNumber = sim::BenchSerialNumber(i);
      config.chipAddress = m_options.simChipAddress;
      auto board = std::make_unique<sim::SimBoard>(config);
      board->SetFaults(m_options.simFaults);
      // The simulated board raises arrival and removal like the system would.
      board->SetDeviceEventListener([](std::uint32_t event) {
        platform::PostMessage(corvel::GetMainDialogHandle(), platform::WM_DEVICECHANGE, event);
      });
      bench.push_back(board.get());
      if (i == 0) m_board = std::move(board);
      else m_moreBoards.push_back(std::move(board));
    }
    backend = std::make_unique<SimBackend>(std::move(bench));
  } else {
    // Listen before the first enumeration so no arrival is missed.
    m_monitor = std::make_unique<platform::DeviceMonitor>();
    if (m_options.devicePath.empty()) {
      backend = std::make_unique<HidapiBackend>();
    } else {
      auto given = std::make_unique<HidapiBackend>(m_options.devicePath);
      m_deviceProblem = given->CheckDevicePath();
      if (!m_deviceProblem.empty()) std::fprintf(stderr, "corvelgui: %s\n", m_deviceProblem.c_str());
      backend = std::move(given);
    }
  }
  // The traffic page shows everything since the start: the tap is in place
  // before the board is opened (the main window does that).
  m_traffic = std::make_unique<TrafficCapture>();
  g_pTrafficCapture = m_traffic.get();
  session::LampSessionOptions sessionOptions;
  sessionOptions.choice.serial = m_options.serial;
  sessionOptions.stepPauseMs = session::LampSession::kConnectPauseMs;
  // Sets g_pCommunication; the board is opened once the main window starts it.
  m_session = std::make_unique<session::LampSession>(std::move(backend), sessionOptions);
  InstallTrafficTap(&m_session->Communication(), m_traffic.get());
  return true;
}

int CCorvelGUIApp::Run() {
  if (!g_pChip) return 0;
  const std::int32_t id = QVChip::GetDefaultChipId();
  if (id == 0) return 0;
  CQV512XX* window = g_pChip->Prepare(id);
  if (!window) return 0;
  window->WatchDeviceMonitor(m_monitor.get());
  if (m_board) AddSimulationActions();
  if (!m_options.screenshotPath.isEmpty()) {
    QTimer::singleShot(m_options.screenshotAfterMs, window, [window, path = m_options.screenshotPath] {
      if (!window->grab().save(path)) std::fprintf(stderr, "corvelgui: cannot write %s\n", qPrintable(path));
      window->reject();
    });
  }
  return window->Run();
}

sim::SimBoard* CCorvelGUIApp::LinkedSimBoard() {
  if (!m_board) return nullptr;
  // The board the window is linked to, or the one it has chosen while that
  // one is unplugged; the first of the bench when no choice was made.
  std::string serial;
  if (m_session) {
    CMUSBHid* hid = m_session->Communication().Hid();
    if (hid && hid->IsConnected()) serial = hid->OpenDeviceSerial();
    else if (hid) serial = hid->Choice().serial;
  }
  if (!serial.empty()) {
    if (m_board->SerialNumber() == serial) return m_board.get();
    for (auto& board : m_moreBoards)
      if (board->SerialNumber() == serial) return board.get();
  }
  return m_board.get();
}

void CCorvelGUIApp::AddSimulationActions() {
  // Each acts on the board the window is linked to at the time.
  auto* unplug = new QAction(QStringLiteral("Unplug simulated board"), g_pMainDialog);
  unplug->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+U")));
  QObject::connect(unplug, &QAction::triggered, [this] { LinkedSimBoard()->Unplug(); });
  auto* plug = new QAction(QStringLiteral("Plug simulated board in"), g_pMainDialog);
  plug->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+P")));
  QObject::connect(plug, &QAction::triggered, [this] { LinkedSimBoard()->Plug(); });
  auto* interrupt = new QAction(QStringLiteral("Raise interrupt"), g_pMainDialog);
  interrupt->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+I")));
  QObject::connect(interrupt, &QAction::triggered, [this] { LinkedSimBoard()->RaiseInterrupt(1); });
  auto* registers = new QAction(QStringLiteral("Simulated chip registers\u2026"), g_pMainDialog);
  registers->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+R")));
  QObject::connect(registers, &QAction::triggered, [this] {
    // One panel per board, made on first use and owned by the main window.
    sim::SimBoard* board = LinkedSimBoard();
    SimRegisterPanel* panel = nullptr;
    for (auto* p : g_pMainDialog->findChildren<SimRegisterPanel*>())
      if (&p->Board() == board) panel = p;
    if (!panel) panel = new SimRegisterPanel(*board, g_pMainDialog);
    panel->show();
    panel->raise();
    panel->activateWindow();
  });
  g_pMainDialog->AddCaptionActions({unplug, plug, interrupt, registers});
}

void CCorvelGUIApp::DestroyObjects() {
  m_chip.reset();  // and with it the main window and its pages
  g_pChip = nullptr;
  m_session.reset();  // joins the reader thread
  g_pTrafficCapture = nullptr;
  m_traffic.reset();
  g_pProtocol = nullptr;
  m_protocol.reset();
  if (m_board) m_board->SetDeviceEventListener({});
  m_board.reset();
  for (auto& board : m_moreBoards) board->SetDeviceEventListener({});
  m_moreBoards.clear();
  m_monitor.reset();
}
