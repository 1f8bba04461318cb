// The list under the interrupt indicator: the last interrupts the board
// reported, newest first, with the time each came and, once the input ports
// were read after it, which pins changed. A click on it counts as having
// looked at them.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>

#include "chip/InterruptLog.h"

class InterruptLogView : public QWidget {
  Q_OBJECT
 public:
  explicit InterruptLogView(const chip::InterruptLog& log, QWidget* parent = nullptr);

  // Repaints when the log moved since the last look.
  void Refresh();
  // The line the view shows for an entry, e.g. "#3  14:02:07.512  pins 0, 2
  // changed".
  static QString EntryText(const chip::InterruptLog::Entry& entry);

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  const chip::InterruptLog& m_log;
  std::uint64_t m_shownVersion = ~std::uint64_t{0};
};
