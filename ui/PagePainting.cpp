#include "ui/PagePainting.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

constexpr QRgb kFrameColour = qRgb(200, 200, 200);
// Distance of the frame from the right and bottom edges.
constexpr int kFrameFarInset = 6;

int Truncated(double value) { return static_cast<int>(value); }

// Centres a top-level window on its parent window, or on the work area of its
// screen, keeping it on that work area where it fits.
void CentreWindow(QWidget* dialog) {
  const QSize size = dialog->frameGeometry().size();
  QScreen* screen = dialog->screen() ? dialog->screen() : QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->availableGeometry() : QRect();

  QRect around = area;
  if (QWidget* parent = dialog->parentWidget()) around = parent->window()->frameGeometry();

  int x = (around.left() + around.left() + around.width()) / 2 - size.width() / 2;
  int y = (around.top() + around.top() + around.height()) / 2 - size.height() / 2;
  if (area.isValid()) {
    x = std::max(area.left(), std::min(x, area.left() + area.width() - size.width()));
    y = std::max(area.top(), std::min(y, area.top() + area.height() - size.height()));
  }
  dialog->move(x, y);
}

}  // namespace

void PaintPlainBackground(QWidget* page, QPainter& painter) {
  painter.fillRect(page->rect(), Qt::white);
}

void PaintFramedBackground(QWidget* page, QPainter& painter) {
  PaintPlainBackground(page, painter);

  painter.save();
  // A hairline on whole pixels: no antialiasing smear over two rows.
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(QPen(QColor(kFrameColour), 1));
  painter.setBrush(Qt::NoBrush);
  const QRect r = page->rect();
  // Right and bottom as exclusive edges, the way the frame was measured.
  const int left = r.left() + 1;
  const int top = r.top() + 1;
  const int right = r.left() + r.width() - kFrameFarInset;
  const int bottom = r.top() + r.height() - kFrameFarInset;
  // An outline QRect(x, y, w, h) covers columns x..x+w and rows y..y+h.
  painter.drawRect(QRect(left, top, right - left, bottom - top));
  painter.restore();
}

void CentreInHost(QWidget* page, QWidget* host) {
  if (!page || !host) return;
  page->move((host->width() - page->width()) / 2, (host->height() - page->height()) / 2);
}

void ScaleDialogLayout(QWidget* dialog, double xRatio, double yRatio, bool centre) {
  const QSize client = dialog->size();
  dialog->move(0, 0);
  dialog->resize(Truncated(client.width() * xRatio), Truncated(client.height() * yRatio));

  if (centre) {
    if (dialog->isWindow()) {
      CentreWindow(dialog);
    } else if (QWidget* parent = dialog->parentWidget()) {
      // A page embedded in another: centre in the parent's client area.
      CentreInHost(dialog, parent);
    }
  }

  for (QObject* object : dialog->children()) {
    auto* child = qobject_cast<QWidget*>(object);
    if (!child || child->isWindow()) continue;  // owned pop-ups are not laid out here
    child->setGeometry(ScaleRectEdges(child->geometry(), xRatio, yRatio));
  }
}

QRect ScaleRectEdges(const QRect& g, double xRatio, double yRatio) {
  const int left = Truncated(g.left() * xRatio);
  const int top = Truncated(g.top() * yRatio);
  const int right = Truncated((g.left() + g.width()) * xRatio);
  const int bottom = Truncated((g.top() + g.height()) * yRatio);
  return QRect(left, top, right - left, bottom - top);
}
