// What the pages share for painting and sizing themselves.
#pragma once

#include <QRect>

class QPainter;
class QWidget;

// A white page. Call first thing in the page's paintEvent.
void PaintPlainBackground(QWidget* page, QPainter& painter);

// A white page with a 1-pixel light grey frame, one pixel in from the top and
// left edges and six from the right and bottom ones.
void PaintFramedBackground(QWidget* page, QPainter& painter);

// Sizes a page from its template size to the current layout: the page moves
// to (0, 0) with its size multiplied by the ratios, is centred on its parent
// (or on the screen for a window without one) if asked, and every direct
// child gets its edges multiplied by the ratios. Each product is truncated
// toward zero, edge by edge, so neighbouring controls that shared an edge
// still share it after scaling.
void ScaleDialogLayout(QWidget* dialog, double xRatio, double yRatio, bool centre);

// Moves `page` to the middle of `host` (either may be null: nothing moves).
void CentreInHost(QWidget* page, QWidget* host);

// A rectangle with its edges (not its size) scaled, each truncated, so that
// neighbouring controls stay flush.
QRect ScaleRectEdges(const QRect& r, double xRatio, double yRatio);
