// Writes the program's icon as PNG files for the desktop's icon theme, drawn
// by the same code as the window's icon:
//   render_app_icon OUT_DIR NAME SIZE...  ->  OUT_DIR/<SIZE>x<SIZE>/apps/NAME.png
#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>

#include "ui/Bitmaps.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: render_app_icon OUT_DIR NAME SIZE...\n");
    return 2;
  }
  const QString outDir = QString::fromLocal8Bit(argv[1]);
  const QString name = QString::fromLocal8Bit(argv[2]);
  for (int i = 3; i < argc; ++i) {
    bool ok = false;
    const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
    if (!ok || size < 16 || size > 1024) {
      std::fprintf(stderr, "render_app_icon: '%s' is not an icon size (16..1024)\n", argv[i]);
      return 2;
    }
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
    if (!QDir().mkpath(dir)) {
      std::fprintf(stderr, "render_app_icon: cannot create %s\n", qPrintable(dir));
      return 1;
    }
    const QString file = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!bitmaps::AppIconImage(size).save(file, "PNG")) {
      std::fprintf(stderr, "render_app_icon: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
