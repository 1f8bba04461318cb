// The board chooser in the caption band: with several lamp boards attached
// it lists them (chip and serial number, or path where a board has none), shows the
// one the window is linked to, and links the one picked instead, without a
// restart. Hidden while there is no other board to pick.
#pragma once

#include <QComboBox>
#include <map>
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

  // The window identified the board the link has open as `chip`: from now
  // on the list names its chip beside its serial number. A board never
  // linked has not told which chip it carries, and the list says so.
  void NoteIdentified(const QString& chip);
  // How the list names the board the link has open (or has chosen), empty
  // when none is.
  QString LinkedLabel() const;
  // The same board by what tells it from the others (serial number, or path).
  std::string LinkedKey() const;
  bool Attached(const std::string& key) const;
  static constexpr const char* kPlaceholder = "Choose a board…";

 signals:
  // A board was picked; the link is on its way to it.
  void boardChosen(const QString& label);

 private:
  QString Label(const HidDeviceInfo& board) const;
  static std::string Key(const HidDeviceInfo& board);
  session::LampSession* m_session = nullptr;
  std::map<std::string, QString> m_chips;  // by serial number (or path): the chip identified there
  std::vector<HidDeviceInfo> m_boards;
  bool m_refreshing = false;
};
