#include "ui/FocusRing.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPainter>

namespace {

class RingWidget final : public QWidget {
 public:
  explicit RingWidget(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("focusRing"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal half = FocusRing::kWidth / 2.0;
    p.setPen(QPen(QColor(FocusRing::kColour), FocusRing::kWidth));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(rect()).adjusted(half, half, -half, -half), 4, 4);
  }
};

bool ByKeyboard(Qt::FocusReason reason) {
  return reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
}

}  // namespace

FocusRing::FocusRing() { qApp->installEventFilter(this); }

FocusRing::~FocusRing() {
  if (qApp) qApp->removeEventFilter(this);
  delete m_ring.data();
}

QWidget* FocusRing::Around() const { return m_ring && m_ring->isVisible() ? m_control.data() : nullptr; }

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::FocusIn: {
      auto* w = qobject_cast<QWidget*>(watched);
      const auto reason = static_cast<QFocusEvent*>(event)->reason();
      // The window coming back keeps the ring as it was.
      if (w && reason != Qt::ActiveWindowFocusReason) {
        if (ByKeyboard(reason)) ShowAround(w);
        else Hide();
      }
      break;
    }
    case QEvent::FocusOut:
      if (watched == m_control && static_cast<QFocusEvent*>(event)->reason() != Qt::ActiveWindowFocusReason) Hide();
      break;
    case QEvent::Move:
    case QEvent::Resize:
      if (watched == m_control) Place();
      break;
    case QEvent::Hide:
    case QEvent::Destroy:
      if (watched == m_control) Hide();
      break;
    default: break;
  }
  return false;
}

void FocusRing::ShowAround(QWidget* control) {
  if (!control || control->isWindow()) {
    Hide();
    return;
  }
  m_control = control;
  QWidget* window = control->window();
  if (!m_ring) m_ring = new RingWidget(window);
  else if (m_ring->parentWidget() != window) m_ring->setParent(window);
  Place();
}

void FocusRing::Place() {
  if (!m_ring || !m_control) return;
  const int out = kGap + kWidth;
  const QPoint at = m_control->mapTo(m_ring->parentWidget(), QPoint(0, 0));
  m_ring->setGeometry(QRect(at, m_control->size()).adjusted(-out, -out, out, out));
  m_ring->raise();
  m_ring->show();
  m_ring->update();
}

void FocusRing::Hide() {
  m_control = nullptr;
  if (m_ring) m_ring->hide();
}
