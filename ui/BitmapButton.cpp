#include "ui/BitmapButton.h"

#include <QPainter>

CBitmapButton::CBitmapButton(QWidget* parent) : QAbstractButton(parent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
}

void CBitmapButton::SetBitmaps(const QPixmap& normal, const QPixmap& pressed) {
  m_normal = normal;
  m_pressed = pressed;
  update();
}

void CBitmapButton::SizeToContent() {
  if (!m_normal.isNull()) resize(m_normal.size());
}

QSize CBitmapButton::sizeHint() const { return m_normal.isNull() ? QSize(12, 12) : m_normal.size(); }

void CBitmapButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPixmap& pm = (isDown() && !m_pressed.isNull()) ? m_pressed : m_normal;
  if (pm.isNull()) return;
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawPixmap(rect(), pm);
}
