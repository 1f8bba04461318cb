// The shared page background painters and the dialog layout scaling.
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

#include "tests/ui/UiTestSupport.h"
#include "ui/PagePainting.h"

namespace {

using uitest::Describe;

// A page that paints its background the way every page does, with the
// painter already antialiasing as pages that draw curves leave it.
class Page : public QWidget {
 public:
  explicit Page(bool framed) : framed_(framed) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (framed_)
      PaintFramedBackground(this, painter);
    else
      PaintPlainBackground(this, painter);
  }

 private:
  bool framed_;
};

TEST(PageBackground, FramedHasHairlineOneInAndSixFromFarEdges) {
  constexpr int kW = 60;
  constexpr int kH = 40;
  for (bool framed : {false, true}) {
    Page page(framed);
    page.resize(kW, kH);
    const QImage image = uitest::GrabAndSave(&page, framed ? QStringLiteral("page_framed") : QStringLiteral("page_plain"));

    // Every pixel checked: grey exactly on columns 1 and W-6 and rows 1 and
    // H-6 between those corners, white everywhere else.
    int wrong = 0;
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        const bool inSpan = x >= 1 && x <= kW - 6 && y >= 1 && y <= kH - 6;
        const bool onFrame = framed && inSpan && (x == 1 || x == kW - 6 || y == 1 || y == kH - 6);
        const QColor expected = onFrame ? QColor(200, 200, 200) : QColor(Qt::white);
        if (image.pixel(x, y) != expected.rgb() && ++wrong <= 5)
          ADD_FAILURE() << (framed ? "framed" : "plain") << " pixel " << x << "," << y << " is "
                        << Describe(image.pixel(x, y));
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

struct ChildRect {
  QRect before;
  QRect after;
};

TEST(ScaleDialogLayout, ScalesEdgesNotSizesAndTruncatesEach) {
  QWidget dialog;
  dialog.move(40, 30);
  dialog.resize(200, 100);
  // Ratios 1.5 x 1.25. Scaling x and width separately would give widths of
  // 7 instead of 8 for the first child and open a gap to its neighbour.
  const ChildRect cases[] = {
      {QRect(3, 7, 5, 9), QRect(QPoint(4, 8), QPoint(12 - 1, 20 - 1))},          // 4.5,8.75 .. 12,20
      {QRect(8, 7, 11, 9), QRect(QPoint(12, 8), QPoint(28 - 1, 20 - 1))},        // shares the edge at 12
      {QRect(-3, -5, 10, 10), QRect(QPoint(-4, -6), QPoint(10 - 1, 6 - 1))},     // toward zero: -4.5 -> -4
      {QRect(101, 51, 33, 17), QRect(QPoint(151, 63), QPoint(201 - 1, 85 - 1))}, // 151.5,63.75 .. 201,85
  };
  std::vector<QWidget*> children;
  for (const ChildRect& c : cases) {
    children.push_back(new QWidget(&dialog));
    children.back()->setGeometry(c.before);
  }
  // A grandchild belongs to its own parent's layout and is left alone.
  auto* grandchild = new QWidget(children.back());
  grandchild->setGeometry(1, 1, 10, 10);

  ScaleDialogLayout(&dialog, 1.5, 1.25, false);

  EXPECT_EQ(dialog.pos(), QPoint(0, 0));
  EXPECT_EQ(dialog.size(), QSize(300, 125));
  for (size_t i = 0; i < children.size(); ++i) EXPECT_EQ(children[i]->geometry(), cases[i].after) << "child " << i;
  EXPECT_EQ(grandchild->geometry(), QRect(1, 1, 10, 10));
}

TEST(ScaleDialogLayout, DialogSizeIsTruncated) {
  QWidget dialog;
  dialog.resize(333, 77);
  ScaleDialogLayout(&dialog, 1.3333, 1.3462, false);  // 443.99 x 103.66
  EXPECT_EQ(dialog.size(), QSize(443, 103));
}

TEST(ScaleDialogLayout, CentresOnParentOrScreen) {
  // A page inside the main window is centred in the window's client area.
  QWidget window;
  window.resize(800, 600);
  auto* page = new QWidget(&window);
  page->setGeometry(50, 50, 200, 100);
  ScaleDialogLayout(page, 1.5, 1.25, true);
  EXPECT_EQ(page->geometry(), QRect((800 - 300) / 2, (600 - 125) / 2, 300, 125));

  // Not centring leaves it at the origin.
  page->setGeometry(50, 50, 200, 100);
  ScaleDialogLayout(page, 1.5, 1.25, false);
  EXPECT_EQ(page->geometry(), QRect(0, 0, 300, 125));

  // A window of its own goes to the middle of the work area.
  QWidget dialog;
  dialog.resize(100, 60);
  ScaleDialogLayout(&dialog, 2.0, 2.0, true);
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(dialog.size(), QSize(200, 120));
  EXPECT_NEAR(dialog.frameGeometry().center().x(), area.center().x(), 1);
  EXPECT_NEAR(dialog.frameGeometry().center().y(), area.center().y(), 1);
}

}  // namespace

// A test run by hand (no CORVEL_SCREENSHOT_DIR, started from the source tree)
// once left its pictures at the repository's root: they go under the build
// tree whatever the current folder.
TEST(Screenshots, GoUnderTheBuildTreeWithoutTheVariable) {
  const QByteArray saved = qgetenv("CORVEL_SCREENSHOT_DIR");
  qunsetenv("CORVEL_SCREENSHOT_DIR");
  QWidget widget;
  widget.resize(8, 8);
  const QString name = QStringLiteral("screenshot_place_check");
  uitest::GrabAndSave(&widget, name);
  const QString file = name + QStringLiteral(".png");
  EXPECT_TRUE(QDir(QStringLiteral(CORVEL_BUILD_SCREENSHOT_DIR)).exists(file));
  EXPECT_FALSE(QDir::current().exists(file)) << QDir::currentPath().toStdString();
  QDir::current().remove(file);
  if (!saved.isNull()) qputenv("CORVEL_SCREENSHOT_DIR", saved);
}
