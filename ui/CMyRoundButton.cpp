#include "ui/CMyRoundButton.h"

#include <QPainter>
#include <QRadialGradient>

#include <algorithm>

#include "ui/BoardState.h"
#include "ui/Scaling.h"

CMyRoundButton::CMyRoundButton(QWidget* parent) : CMyRoundButton(QString(), parent) {}

CMyRoundButton::CMyRoundButton(const QString& caption, QWidget* parent) : QAbstractButton(parent) {
  setText(caption);
}

void CMyRoundButton::SetButtonColor(const QColor& color) {
  m_crButton = color;
  update();
}

void CMyRoundButton::SetGlow(int glow) {
  glow = glow < 0 ? (glow == kGlowUnknown ? kGlowUnknown : kNoGlow) : std::min(glow, 255);
  if (glow == m_glow) return;
  m_glow = glow;
  update();
}

int CMyRoundButton::GlowAlpha(int brightness) {
  if (brightness <= 0) return 0;
  // A floor, so that the faintest value still shows as lit beside a dark 0.
  return 50 + (std::min(brightness, 255) * 205 + 127) / 255;
}

void CMyRoundButton::SetSelected(bool selected) { m_bSelected = selected; }

QString CMyRoundButton::DisplayedCaption(const QString& caption) { return caption.left(2); }

double CMyRoundButton::CaptionPointSize(bool selected) {
  // With the layout on every board: a caption of fixed size is lost in the
  // disc on a large screen and crowds it on a small one.
  return (selected ? 19.0 : 14.0) * g_ratioX;
}

QRectF CMyRoundButton::DiscRect(int width, int height) {
  // Three pixels in from the left and right, six up from the bottom: the room
  // the shadow needs to show beside and below the disc.
  const int d = std::min((width - 3) - 3, height - 6);
  return QRectF(3, 0, std::max(d, 0), std::max(d, 0));
}

QRectF CMyRoundButton::ShadowRect(int width, int height) {
  const int d = std::min(width, height);
  return QRectF(0, 0, d, d);
}

void CMyRoundButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
  painter.fillRect(rect(), Qt::white);
  painter.setPen(Qt::NoPen);

  const QRectF disc = DiscRect(width(), height());
  const QRectF shadow = ShadowRect(width(), height());

  if (m_bSelected && !shadow.isEmpty()) {
    // Solid grey over the inner 75 % x 80 % of the shadow ellipse, fading to
    // nothing at its edge. A radial gradient has one shape for both, so it is
    // squeezed horizontally by 0.75 / 0.8: the solid core and the vertical
    // fade (what shows below the disc) are exact, and the fade beside the
    // disc ends a little early, where it is nearly transparent anyway.
    const double radius = shadow.height() / 2.0;
    QRadialGradient gradient(QPointF(0, 0), radius);
    const QColor grey(kShadowColour);
    QColor clear(kShadowColour);
    clear.setAlpha(0);  // fade the alpha, not towards black
    gradient.setColorAt(0.0, grey);
    gradient.setColorAt(kShadowFocusY, grey);
    gradient.setColorAt(1.0, clear);
    QBrush brush(gradient);
    brush.setTransform(QTransform::fromTranslate(shadow.center().x(), shadow.center().y())
                           .scale(kShadowFocusX / kShadowFocusY, 1.0));
    painter.setBrush(brush);
    painter.drawEllipse(shadow);
  }

  if (disc.isEmpty()) return;
  QColor face = m_crButton;
  face.setAlpha(255);
  painter.setBrush(face);
  painter.drawEllipse(disc);

  // The glow lives in the rim of the disc, outside the caption, so the
  // number stays on the disc's own colour and reads as before.
  const double r = disc.width() / 2.0;
  if (m_glow > 0) {
    QColor lit(kGlowColour);
    lit.setAlpha(GlowAlpha(m_glow));
    QColor clear(kGlowColour);
    clear.setAlpha(0);
    QRadialGradient glow(disc.center(), r);
    glow.setColorAt(0.0, clear);
    glow.setColorAt(0.5, clear);
    glow.setColorAt(0.82, lit);
    glow.setColorAt(1.0, lit);
    painter.setBrush(glow);
    painter.drawEllipse(disc);
  } else if (m_glow == kGlowUnknown && r > 4) {
    QPen rim(QColor(kUnknownRimColour), std::max(1.5, r * 0.16), Qt::DashLine, Qt::FlatCap);
    painter.setPen(rim);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(disc.center(), r * 0.82, r * 0.82);
    painter.setPen(Qt::NoPen);
  }

  const QColor ink(255 - face.red(), 255 - face.green(), 255 - face.blue());
  QFont font(QStringLiteral("Arial"));
  font.setPointSizeF(CaptionPointSize(m_bSelected));
  font.setBold(m_bSelected);
  font.setStyleStrategy(QFont::PreferAntialias);
  painter.setFont(font);
  painter.setPen(ink);
  painter.drawText(disc, Qt::AlignCenter | Qt::TextSingleLine, DisplayedCaption(text()));
}
