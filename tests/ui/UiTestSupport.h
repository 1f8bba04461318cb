// Shared pieces of the widget tests: the application object, screenshots and
// pixel probes.
#pragma once

#include <QColor>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QThread>
#include <QRect>
#include <QString>

#include <functional>
#include <ostream>
#include <string>

class QWidget;

namespace uitest {

// Renders the widget the way it would appear on screen, saves the picture as
// CORVEL_SCREENSHOT_DIR/<name>.png (or the build tree's screenshots folder,
// never the source tree) for a person to look at,
// and returns it for probing.
QImage GrabAndSave(QWidget* widget, const QString& name);

// Where GrabAndSave puts its pictures.
QString ScreenshotDir();

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

// Runs the event loop until `done` holds (true) or the time is up (false).
template <typename Pred>
bool PumpUntil(Pred done, int timeoutMs = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

}  // namespace uitest
