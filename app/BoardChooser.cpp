#include "app/BoardChooser.h"

#include "link/MUSBHid.h"
#include "link/QVCommunication.h"

BoardChooser::BoardChooser(QWidget* parent) : QComboBox(parent) {
  setObjectName(QStringLiteral("boardChooser"));
  setToolTip(QStringLiteral("The lamp board this window talks to"));
  setSizeAdjustPolicy(QComboBox::AdjustToContents);
  hide();
  connect(this, &QComboBox::activated, this, &BoardChooser::Choose);
}

QString BoardChooser::Label(const HidDeviceInfo& board) {
  QString label = QString::fromStdString(board.serialNumber.empty() ? board.path : board.serialNumber);
  if (board.releaseNumber == kReleaseBootloader) label += QStringLiteral(" (bootloader)");
  return label;
}

void BoardChooser::Refresh() {
  QVCommunication* comm = g_pCommunication.load();
  m_boards = comm ? comm->ListBoards() : std::vector<HidDeviceInfo>{};
  m_refreshing = true;
  clear();
  // Which one the link is on: the open device, else the one chosen.
  const std::string open = comm && comm->Hid() && comm->Hid()->IsConnected() ? comm->Hid()->DevicePath() : std::string();
  const DeviceChoice chosen = comm && comm->Hid() ? comm->Hid()->Choice() : DeviceChoice{};
  int current = -1;
  for (std::size_t i = 0; i < m_boards.size(); ++i) {
    const HidDeviceInfo& b = m_boards[i];
    addItem(Label(b));
    if ((!open.empty() && b.path == open) || (open.empty() && !chosen.Any() && chosen.Matches(b)))
      current = static_cast<int>(i);
  }
  setCurrentIndex(current);
  m_refreshing = false;
  setVisible(m_boards.size() > 1);
}

void BoardChooser::Choose(int index) {
  if (m_refreshing || index < 0 || index >= static_cast<int>(m_boards.size())) return;
  QVCommunication* comm = g_pCommunication.load();
  if (!comm || !comm->Hid()) return;
  const HidDeviceInfo& board = m_boards[static_cast<std::size_t>(index)];
  // By serial number where there is one: a board's path changes when it
  // restarts into its bootloader and back.
  DeviceChoice choice;
  if (board.serialNumber.empty()) choice.path = board.path;
  else choice.serial = board.serialNumber;
  const DeviceChoice before = comm->Hid()->Choice();
  const bool same = comm->Hid()->IsConnected() && comm->Hid()->DevicePath() == board.path;
  comm->Hid()->SetDeviceChoice(choice);
  if (same && before.serial == choice.serial && before.path == choice.path) return;
  // The old board's removal from the window's view, then the new one's link:
  // the window handles both as it handles a re-plug.
  comm->Disconnect();
  comm->PostLinkState();
  comm->Connect();
  emit boardChosen(itemText(index));
}
