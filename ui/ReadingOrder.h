// The order in which a person reads a window: rows from top to bottom, each
// row from left to right, a group box or a page inside the window read as
// one block where it sits. Tab follows it, whatever order the controls
// were made in (pages come and go with the chip's mode).
#pragma once

#include <QWidget>
#include <vector>

// The controls of `root` that Tab may stop at (visible, enabled, taking the
// focus by Tab), in reading order.
std::vector<QWidget*> ReadingOrder(QWidget* root);

// Moves the focus to the next (or previous) control of `window` in reading
// order, wrapping around; false when there is none.
bool FocusNextInReadingOrder(QWidget* window, bool next);
