#include "app/BoardChooser.h"

#include "link/MUSBHid.h"
#include "link/QVCommunication.h"
#include "session/LampSession.h"

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
  QVCommunication* comm = m_session ? &m_session->Communication() : nullptr;
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
  // With one board there is nothing to choose, unless it is not the one the
  // window is linked to (the chosen board was unplugged): then it can be
  // picked instead.
  setVisible(m_boards.size() > 1 || (m_boards.size() == 1 && current < 0));
}

void BoardChooser::Choose(int index) {
  if (m_refreshing || index < 0 || index >= static_cast<int>(m_boards.size())) return;
  if (!m_session) return;
  // By serial number where there is one: a board's path changes when it
  // restarts into its bootloader and back.
  if (!m_session->ChooseBoard(m_boards[static_cast<std::size_t>(index)])) return;
  emit boardChosen(itemText(index));
}
