#include "ui/Bitmaps.h"

#include <QFont>
#include <QMap>
#include <QPainter>
#include <QPainterPath>

namespace bitmaps {
namespace {

QPixmap Canvas(int w, int h, QColor background) {
  QPixmap p(w, h);
  p.fill(background);
  return p;
}

QPixmap Dot(QColor colour) {
  QPixmap p = Canvas(12, 12, QColor(90, 90, 90));
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  QRadialGradient shine(QPointF(4.5, 4.5), 6.0);
  shine.setColorAt(0.0, colour.lighter(160));
  shine.setColorAt(1.0, colour);
  g.setPen(Qt::NoPen);
  g.setBrush(shine);
  g.drawEllipse(QRectF(1, 1, 10, 10));
  return p;
}

// Caption glyphs: white strokes on the caption red.
QPixmap Glyph(int size, const std::function<void(QPainter&)>& draw) {
  QPixmap p = Canvas(size, size, QColor(204, 0, 0));
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  g.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  g.setBrush(Qt::NoBrush);
  draw(g);
  return p;
}

QPixmap Logo() {
  QPixmap p = Canvas(100, 27, QColor(85, 85, 85));
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  g.setRenderHint(QPainter::TextAntialiasing);
  // A lamp: a warm disc with three rays.
  g.setPen(Qt::NoPen);
  g.setBrush(QColor(255, 196, 64));
  g.drawEllipse(QRectF(5, 8, 11, 11));
  g.setPen(QPen(QColor(255, 196, 64), 1.5, Qt::SolidLine, Qt::RoundCap));
  g.drawLine(QPointF(10.5, 2.5), QPointF(10.5, 5.5));
  g.drawLine(QPointF(2.5, 6.0), QPointF(4.5, 8.0));
  g.drawLine(QPointF(18.5, 6.0), QPointF(16.5, 8.0));
  QFont f("Arial");
  f.setPixelSize(15);
  f.setBold(true);
  g.setFont(f);
  g.setPen(Qt::white);
  g.drawText(QRect(22, 0, 78, 27), Qt::AlignVCenter | Qt::AlignLeft, "CORVEL");
  return p;
}

QPixmap Round24(QColor face, bool pressed, const QString& glyph) {
  QPixmap p(24, 24);
  p.fill(Qt::white);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  g.setPen(QPen(face.darker(130), 1));
  g.setBrush(pressed ? face.darker(120) : face);
  g.drawEllipse(QRectF(1.5, 1.5, 21, 21));
  QFont f("Arial");
  f.setPixelSize(13);
  f.setBold(true);
  g.setFont(f);
  g.setPen(Qt::white);
  g.drawText(QRect(0, pressed ? 1 : 0, 24, 24), Qt::AlignCenter, glyph);
  return p;
}

QPixmap Make(int id) {
  switch (id) {
    case IDB_LOGO: return Logo();
    case IDB_GREEN_DOT: return Dot(QColor(0, 200, 60));
    case IDB_RED_DOT: return Dot(QColor(230, 30, 30));
    case IDB_CLOSE:
      return Glyph(12, [](QPainter& g) {
        g.drawLine(QPointF(2.5, 2.5), QPointF(9.5, 9.5));
        g.drawLine(QPointF(9.5, 2.5), QPointF(2.5, 9.5));
      });
    case IDB_MINIMIZE: return Glyph(12, [](QPainter& g) { g.drawLine(QPointF(2, 9.5), QPointF(10, 9.5)); });
    case IDB_MAXIMIZE: return Glyph(12, [](QPainter& g) { g.drawRect(QRectF(2.5, 2.5, 7, 7)); });
    case IDB_RESTORE:
      return Glyph(11, [](QPainter& g) {
        g.drawRect(QRectF(1.5, 3.5, 6, 6));
        g.drawPolyline(QPolygonF({QPointF(3.5, 3.5), QPointF(3.5, 1.5), QPointF(9.5, 1.5), QPointF(9.5, 7.5),
                                  QPointF(7.5, 7.5)}));
      });
    case IDB_RESET: return Round24(QColor(220, 40, 40), false, QStringLiteral("R"));
    case IDB_RESET_PRESSED: return Round24(QColor(220, 40, 40), true, QStringLiteral("R"));
    case IDB_INTERRUPT_ACTIVE: return Round24(QColor(230, 30, 30), false, QStringLiteral("!"));
    case IDB_INTERRUPT_IDLE: return Round24(QColor(160, 160, 160), false, QString());
    default: return QPixmap();
  }
}

}  // namespace

QPixmap Bitmap(int id) {
  static QMap<int, QPixmap> cache;
  auto it = cache.find(id);
  if (it == cache.end()) it = cache.insert(id, Make(id));
  return *it;
}

QImage AppIconImage(int size) {
  QImage p(size, size, QImage::Format_ARGB32_Premultiplied);
  p.fill(Qt::transparent);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  const qreal s = size / 32.0;
  g.setPen(Qt::NoPen);
  g.setBrush(QColor(204, 0, 0));
  g.drawRoundedRect(QRectF(0, 0, size, size), 6 * s, 6 * s);
  QRadialGradient glow(QPointF(16 * s, 15 * s), 10 * s);
  glow.setColorAt(0.0, QColor(255, 240, 180));
  glow.setColorAt(1.0, QColor(255, 180, 40));
  g.setBrush(glow);
  g.drawEllipse(QRectF(7 * s, 6 * s, 18 * s, 18 * s));
  g.setBrush(QColor(90, 90, 90));
  g.drawRect(QRectF(12 * s, 24 * s, 8 * s, 4 * s));
  g.end();
  return p;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) icon.addPixmap(QPixmap::fromImage(AppIconImage(size)));
  return icon;
}

}  // namespace bitmaps
