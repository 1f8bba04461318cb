#include "app/BoardChooser.h"

#include <algorithm>
#include <optional>

#include "link/MUSBHid.h"
#include "link/QVCommunication.h"
#include "session/LampSession.h"

BoardChooser::BoardChooser(QWidget* parent) : QComboBox(parent) {
  setObjectName(QStringLiteral("boardChooser"));
  setToolTip(QStringLiteral("The lamp board this window talks to"));
  setSizeAdjustPolicy(QComboBox::AdjustToContents);
  // Shown while the board the window was linked to is away: a blank box
  // would read as "no boards".
  setPlaceholderText(QString::fromUtf8(kPlaceholder));
  hide();
  connect(this, &QComboBox::activated, this, &BoardChooser::Choose);
}

// By serial number where there is one: a board's path changes when it
// restarts into its bootloader and back.
std::string BoardChooser::Key(const HidDeviceInfo& board) {
  return board.serialNumber.empty() ? board.path : board.serialNumber;
}

QString BoardChooser::Label(const HidDeviceInfo& board) const {
  const QString id = QString::fromStdString(Key(board));
  const auto chip = m_chips.find(Key(board));
  QString label = chip != m_chips.end() ? chip->second + QStringLiteral(" \u00B7 ") + id
                                        : id + QStringLiteral(" (chip not known yet)");
  if (board.releaseNumber == kReleaseBootloader) label += QStringLiteral(" (bootloader)");
  return label;
}

void BoardChooser::NoteIdentified(const QString& chip) {
  QVCommunication* comm = m_session ? &m_session->Communication() : nullptr;
  if (!comm || !comm->Hid() || !comm->Hid()->IsConnected()) return;
  HidDeviceInfo open;
  open.path = comm->Hid()->DevicePath();
  open.serialNumber = comm->Hid()->OpenDeviceSerial();
  m_chips[Key(open)] = chip;
  Refresh();
}

namespace {
// The board the link has open, else the one it has chosen; nothing when
// neither is known.
std::optional<HidDeviceInfo> Linked(session::LampSession* session) {
  QVCommunication* comm = session ? &session->Communication() : nullptr;
  if (!comm || !comm->Hid()) return std::nullopt;
  HidDeviceInfo board;
  if (comm->Hid()->IsConnected()) {
    board.path = comm->Hid()->DevicePath();
    board.serialNumber = comm->Hid()->OpenDeviceSerial();
  } else {
    const DeviceChoice chosen = comm->Hid()->Choice();
    if (chosen.Any()) return std::nullopt;
    board.path = chosen.path;
    board.serialNumber = chosen.serial;
  }
  return board;
}
}  // namespace

QString BoardChooser::LinkedLabel() const {
  const auto board = Linked(m_session);
  return board ? Label(*board) : QString();
}

std::string BoardChooser::LinkedKey() const {
  const auto board = Linked(m_session);
  return board ? Key(*board) : std::string();
}

bool BoardChooser::Attached(const std::string& key) const {
  return std::any_of(m_boards.begin(), m_boards.end(), [&](const HidDeviceInfo& b) { return Key(b) == key; });
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
