#include "ui/WindowShadow.h"

#include <QBitmap>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>

#include "ui/Scaling.h"

namespace {

constexpr QRgb kFrameColour = qRgb(160, 160, 160);
// Reference width of the shadow; it scales with the screen like everything else.
constexpr int kShadowWidth = 8;
// Darkest the shadow gets, as the share of black laid over the white page.
constexpr double kShadowDepth = 0.30;

}  // namespace

void WindowShadow::Attach(QWidget* window) {
  m_face = QRect(QPoint(0, 0), window->size());
  m_width = std::max(3, static_cast<int>(kShadowWidth * g_scaleY));
  const QSize full = m_face.size() + QSize(m_width, m_width);
  window->resize(full);

  // The face, shifted down and right by half the width, casts the shadow; it
  // fades out over the other half.
  const int offset = m_width / 2;
  const double fade = m_width - offset;
  const QRect caster = m_face.translated(offset, offset);
  m_shadow = QImage(full, QImage::Format_ARGB32);
  m_shadow.fill(Qt::transparent);
  QImage shape(full, QImage::Format_ARGB32);
  shape.fill(Qt::transparent);
  for (int y = 0; y < full.height(); ++y) {
    for (int x = 0; x < full.width(); ++x) {
      if (m_face.contains(x, y)) {
        shape.setPixel(x, y, qRgba(0, 0, 0, 255));
        continue;
      }
      const int dx = std::max({caster.left() - x, 0, x - caster.right()});
      const int dy = std::max({caster.top() - y, 0, y - caster.bottom()});
      const double t = std::hypot(dx, dy) / fade;
      if (t >= 1.0) continue;
      const double depth = kShadowDepth * (1.0 - t) * (1.0 - t);
      const int grey = static_cast<int>(std::lround(255.0 * (1.0 - depth)));
      if (grey >= 255) continue;
      m_shadow.setPixel(x, y, qRgba(grey, grey, grey, 255));
      shape.setPixel(x, y, qRgba(0, 0, 0, 255));
    }
  }
  window->setMask(QBitmap::fromImage(shape.createAlphaMask()));
}

void WindowShadow::Paint(QPainter& painter) const {
  painter.save();
  painter.drawImage(0, 0, m_shadow);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(QPen(QColor(kFrameColour), 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(m_face.adjusted(0, 0, -1, -1));
  painter.restore();
}
