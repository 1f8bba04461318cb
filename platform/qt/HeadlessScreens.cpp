#include "platform/qt/HeadlessScreens.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>
#include <cstdio>

namespace platform {
namespace {
constexpr char kPlatformVariable[] = "QT_QPA_PLATFORM";
}  // namespace

HeadlessScreens::HeadlessScreens(std::span<const QRect> screens) {
  m_previous = qgetenv(kPlatformVariable);
  // Only the bare name: whoever gave the platform options of their own
  // (a configuration file, other screens) keeps them.
  if (m_previous != "offscreen" || screens.empty()) return;

  QJsonArray list;
  int n = 0;
  for (const QRect& s : screens) {
    list.append(QJsonObject{{"name", QStringLiteral("Screen%1").arg(n++)},
                            {"x", s.x()},
                            {"y", s.y()},
                            {"width", s.width()},
                            {"height", s.height()},
                            {"logicalDpi", 96},
                            {"logicalBaseDpi", 96},
                            {"dpr", 1}});
  }
  const QByteArray json = QJsonDocument(QJsonObject{{"screens", list}}).toJson(QJsonDocument::Compact);

  auto file = std::make_unique<QTemporaryFile>();
  if (!file->open() || file->write(json) != json.size() || !file->flush()) {
    // Not fatal: the picture comes out at the platform's default size.
    std::fprintf(stderr, "corvel: cannot write the headless screen configuration: %s\n",
                 qPrintable(file->errorString()));
    return;
  }
  const QByteArray value = QByteArrayLiteral("offscreen:configfile=") + file->fileName().toLocal8Bit();
  if (!qputenv(kPlatformVariable, value)) return;
  m_file = std::move(file);
}

HeadlessScreens::~HeadlessScreens() {
  if (m_file) qputenv(kPlatformVariable, m_previous);
}

}  // namespace platform
