#include "ui/CMyRectButton.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

#include "ui/Scaling.h"

CMyRectButton::CMyRectButton(QWidget* parent) : CMyRectButton(QString(), parent) {}

CMyRectButton::CMyRectButton(const QString& caption, QWidget* parent) : QAbstractButton(parent) {
  setText(caption);
  // Hover is judged on plain moves too, not only while a mouse button is held.
  setMouseTracking(true);
  // Every one of these buttons shows the hand, from the first time the
  // pointer crosses it.
  setCursor(Qt::PointingHandCursor);
}

QFont CMyRectButton::CaptionFont() const {
  // The default is built per use rather than stored, so that it follows the
  // current screen scale and never passes for a font the page chose.
  return m_bFontSet ? m_font : ScaledFont(20, 8, 500);
}

void CMyRectButton::SetButtonFont(int height, int width, int weight, const QString& faceName) {
  m_font = ScaledFont(height, width, weight, faceName);
  m_bFontSet = true;
  update();
}

void CMyRectButton::SetButtonTextColor(const QColor& color) {
  m_crText = color;
  m_crTextNow = color;
  update();
}

void CMyRectButton::SetButtonColor(const QColor& color) {
  m_crFace = color;
  m_crFaceNow = color;
  m_bColorSet = true;
  update();
}

void CMyRectButton::SetButtonHoverTextColor(const QColor& color) {
  // No repaint: nothing looks different until the pointer moves.
  m_crHoverText = color;
  m_bHoverEnabled = true;
}

void CMyRectButton::SetChecked(bool checked) {
  m_bChecked = checked;
  update();
}

void CMyRectButton::paintEvent(QPaintEvent*) {
  // Without a colour of its own the face follows the checked look. This also
  // wins over the hover's white face: a button with no colour only changes
  // its caption colour on hover.
  if (!m_bColorSet) {
    m_crFace = m_bChecked ? QColor(kCheckedFace) : QColor(kUncheckedFace);
    m_crFaceNow = m_crFace;
  }

  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(m_crFace, 1));
  painter.setBrush(m_crFaceNow);
  // Half a pixel in, so that the 1-pixel outline lands on the edge pixels.
  // A 10 x 10 corner ellipse is a radius of 5.
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5.0, 5.0);

  painter.setFont(CaptionFont());
  painter.setPen(m_crTextNow);
  painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
}

void CMyRectButton::mouseMoveEvent(QMouseEvent* event) {
  if (m_bHoverEnabled) {
    const QPointF pos = event->position();
    const QPoint pixel(static_cast<int>(std::floor(pos.x())), static_cast<int>(std::floor(pos.y())));
    const QRect inner = rect().adjusted(kHoverInset, kHoverInset, -kHoverInset, -kHoverInset);
    if (inner.contains(pixel)) {
      m_crTextNow = m_crHoverText;
      m_crFaceNow = QColor(Qt::white);
    } else {
      // The outer band is the only way back: there is no leave handling, so
      // a pointer that jumps straight out keeps the hover look until it
      // comes back.
      m_crTextNow = m_crText;
      m_crFaceNow = m_crFace;
    }
  }
  update();
  QAbstractButton::mouseMoveEvent(event);
  // The base ignores moves without a pressed button; they are ours, the page
  // behind the button should not see them.
  event->accept();
}

void CMyRectButton::changeEvent(QEvent* event) {
  // Only a disable aimed at this button greys it. Qt also disables children
  // when a page disables itself; greying then would leave the buttons grey
  // after the page comes back, since enabling never restores a colour.
  if (event->type() == QEvent::EnabledChange && !isEnabled() && testAttribute(Qt::WA_ForceDisabled)) {
    m_crFace = QColor(kDisabledFace);
    m_crFaceNow = m_crFace;
    m_bColorSet = true;
    m_crText = QColor(Qt::white);
    m_crTextNow = m_crText;
    update();
  }
  QAbstractButton::changeEvent(event);
}
