#include "tests/ui/UiTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <QWidget>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "platform/qt/HeadlessScreens.h"

namespace {

// Many desktops have fontconfig prefer the colour emoji font for symbols that
// the text face lacks. The tests render as on such a desktop, so that a
// symbol the program means to draw in the text colour is seen to be.
constexpr char kEmojiFirstFonts[] = R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <alias binding="strong">
    <family>Liberation Sans</family>
    <prefer><family>Liberation Sans</family><family>Noto Color Emoji</family></prefer>
  </alias>
</fontconfig>
)";

// gtest_main owns main(), so the application lives in a global environment:
// created before the first test, destroyed after the last while everything it
// needs still exists. Test listing (test discovery) never constructs it.
class QtApplicationEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // The ctest entries set this; a hand run of the binary should not need a
    // display either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("FONTCONFIG_FILE") && QFile::exists(QStringLiteral("/etc/fonts/fonts.conf"))) {
      fonts_ = std::make_unique<QTemporaryFile>();
      if (fonts_->open() && fonts_->write(kEmojiFirstFonts) > 0 && fonts_->flush())
        qputenv("FONTCONFIG_FILE", fonts_->fileName().toLocal8Bit());
    }
    // The reference work area, as the program has headless, and a second,
    // larger screen to its right for what depends on the screen a window is on.
    const std::array screens = {QRect(0, 0, 1920, 1040), QRect(1920, 0, 2560, 1400)};
    const platform::HeadlessScreens headless(screens);
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override {
    app_.reset();
    if (fonts_) qunsetenv("FONTCONFIG_FILE");
  }

 private:
  int argc_ = 1;
  char name_[9] = "ui_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QTemporaryFile> fonts_;  // read by fontconfig while the application runs
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace

namespace uitest {

QImage Grab(QWidget* widget) { return widget->grab().toImage().convertToFormat(QImage::Format_ARGB32); }

QString ScreenshotDir() {
  // A test started by hand from the source tree must not leave pictures there:
  // without the variable they still go under the build tree.
  QString dir = qEnvironmentVariable("CORVEL_SCREENSHOT_DIR");
  if (dir.isEmpty()) dir = QStringLiteral(CORVEL_BUILD_SCREENSHOT_DIR);
  return dir;
}

QImage GrabAndSave(QWidget* widget, const QString& name) {
  QImage image = Grab(widget);
  const QString dir = ScreenshotDir();
  if (QDir().mkpath(dir)) {
    const QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
    EXPECT_TRUE(image.save(path)) << "could not save " << path.toStdString();
  } else {
    ADD_FAILURE() << "could not create " << dir.toStdString();
  }
  return image;
}

bool Near(QRgb actual, QColor expected, int tolerance) {
  return std::abs(qRed(actual) - expected.red()) <= tolerance &&
         std::abs(qGreen(actual) - expected.green()) <= tolerance &&
         std::abs(qBlue(actual) - expected.blue()) <= tolerance;
}

int CountPixels(const QImage& image, const std::function<bool(QRgb)>& match, QRect area) {
  if (area.isNull()) area = image.rect();
  area &= image.rect();
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (match(image.pixel(x, y))) ++count;
  return count;
}

QRect BoundingBox(const QImage& image, const std::function<bool(QRgb)>& match) {
  QRect box;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (match(image.pixel(x, y))) box |= QRect(x, y, 1, 1);
  return box;
}

std::string Describe(QRgb pixel) {
  std::ostringstream out;
  out << "RGB(" << qRed(pixel) << "," << qGreen(pixel) << "," << qBlue(pixel) << ")";
  return out.str();
}

}  // namespace uitest
