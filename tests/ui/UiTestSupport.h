// Shared pieces of the widget tests: the application object, screenshots and
// pixel probes.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

#include <functional>
#include <ostream>
#include <string>

class QWidget;

namespace uitest {

// Renders the widget the way it would appear on screen, saves the picture as
// CORVEL_SCREENSHOT_DIR/<name>.png (or ./<name>.png) for a person to look at,
// and returns it for probing.
QImage GrabAndSave(QWidget* widget, const QString& name);

// The widget rendered as it would appear on screen, in one fixed format so
// that images can be compared.
QImage Grab(QWidget* widget);

// Within a couple of steps per channel: antialiasing and text rendering may
// round a component by one.
bool Near(QRgb actual, QColor expected, int tolerance = 2);

// Pixels of the image (optionally inside `area`) for which `match` holds.
int CountPixels(const QImage& image, const std::function<bool(QRgb)>& match, QRect area = {});
// Their bounding box; empty when none match.
QRect BoundingBox(const QImage& image, const std::function<bool(QRgb)>& match);

// Readable colours in assertion messages.
std::string Describe(QRgb pixel);

}  // namespace uitest
