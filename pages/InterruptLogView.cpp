#include "pages/InterruptLogView.h"

#include <QDateTime>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

#include "ui/Scaling.h"
#include "ui/TextControlColours.h"

InterruptLogView::InterruptLogView(const chip::InterruptLog& log, QWidget* parent) : QWidget(parent), m_log(log) {
  setCursor(Qt::ArrowCursor);
}

void InterruptLogView::Refresh() {
  if (m_log.Version() == m_shownVersion) return;
  m_shownVersion = m_log.Version();
  update();
}

QString InterruptLogView::EntryText(const chip::InterruptLog::Entry& entry) {
  QString text = QStringLiteral("#%1  %2  ").arg(entry.number).arg(
      QDateTime::fromMSecsSinceEpoch(entry.timeMs).toString(QStringLiteral("HH:mm:ss.zzz")));
  if (!entry.changed) return text + QStringLiteral("pins not read since");
  if (!entry.Comparable()) return text + QStringLiteral("pins read, not known before");
  if (*entry.changed == 0) return text + QStringLiteral("no pin changed");
  QStringList pins;
  for (int i = 0; i < 16; ++i)
    if (*entry.changed & (1u << i)) pins << QString::number(i);
  return text + (pins.size() == 1 ? QStringLiteral("pin %1 changed") : QStringLiteral("pins %1 changed"))
                    .arg(pins.join(QStringLiteral(", ")));
}

void InterruptLogView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.fillRect(rect(), Qt::white);
  const QFont font = ScaledFont(17, 7, 400);
  const QFontMetricsF metrics(font);
  painter.setFont(font);
  const double line = metrics.height();
  const auto& entries = m_log.Entries();
  if (entries.empty()) {
    painter.setPen(QColor(150, 150, 150));
    painter.drawText(QRectF(0, 0, width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("No interrupt reported"));
    return;
  }
  // Newest first, as many as fit; the ones not yet looked at in the
  // indicator's red.
  const auto unseen = m_log.Unseen();
  int row = 0;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it, ++row) {
    const QRectF box(0, row * line, width(), line);
    if (box.bottom() > height() + 0.5) break;
    const bool isNew = it->number + unseen > m_log.Count();
    painter.setPen(isNew ? QColor(210, 0, 0) : QColor(ui::kDefaultCtrlTextColour));
    painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(EntryText(*it), Qt::ElideRight, width()));
  }
}

void InterruptLogView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit clicked();
  QWidget::mousePressEvent(event);
}
