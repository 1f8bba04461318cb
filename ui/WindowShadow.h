// The frame and drop shadow of a frameless window that floats over another,
// such as the update dialog over the white page: without them it is a white
// rectangle on white and does not read as a window at all.
//
// The window draws them itself, opaque, so that they look the same with or
// without a compositing window manager (the shadow is drawn as it falls on a
// white page). The two corners the shadow leaves free are cut out of the
// window's shape, so what lies under them stays visible.
#pragma once

#include <QImage>
#include <QRect>

class QPainter;
class QWidget;

class WindowShadow {
 public:
  // Grows `window`, already laid out at its own size, by the shadow on its
  // right and bottom edges and cuts its shape. The window's own face keeps its
  // place and size; its children are not moved.
  void Attach(QWidget* window);
  // The frame around the face and the shadow beside it; call after painting
  // the face's background.
  void Paint(QPainter& painter) const;

  // The window without its shadow, in its own coordinates.
  QRect Face() const { return m_face; }
  // Width of the shadow on the right and bottom edges, in pixels.
  int Width() const { return m_width; }

 private:
  QRect m_face;
  int m_width = 0;
  QImage m_shadow;  // window-sized: the shadow opaque, everything else transparent
};
