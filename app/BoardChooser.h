// The board chooser in the caption band: with several lamp boards attached
// it lists them (serial number, or path where a board has none), shows the
// one the window is linked to, and links the one picked instead, without a
// restart. Hidden while there is no other board to pick.
#pragma once

#include <QComboBox>
#include <string>
#include <vector>

#include "link/HidBackend.h"

namespace session {
class LampSession;
}

class BoardChooser final : public QComboBox {
  Q_OBJECT
 public:
  explicit BoardChooser(QWidget* parent);
  // The board session whose boards it lists and links (none: an empty list).
  void SetSession(session::LampSession* session) { m_session = session; }

  // Reads the attached boards again (after an arrival or a removal, and when
  // the link changes) and marks the one the link has open or has chosen.
  void Refresh();
  // Links the board at `index` of the list: the link is taken down and
  // opened on that board; the session's connect sequence does the rest.
  void Choose(int index);

  const std::vector<HidDeviceInfo>& Boards() const { return m_boards; }

 signals:
  // A board was picked; the link is on its way to it.
  void boardChosen(const QString& label);

 private:
  static QString Label(const HidDeviceInfo& board);
  session::LampSession* m_session = nullptr;
  std::vector<HidDeviceInfo> m_boards;
  bool m_refreshing = false;
};
