// Screens for headless runs. Qt's offscreen platform starts with a single
// 800 x 800 screen, on which a window laid out for a desktop work area comes
// out squashed, so pictures taken headless would not show what a person sees.
#pragma once

#include <QByteArray>
#include <QRect>
#include <memory>
#include <span>

class QTemporaryFile;

namespace platform {

// Built before the QApplication: when the offscreen platform is asked for
// (QT_QPA_PLATFORM=offscreen, without options of its own), it is given the
// screens named here instead of its default one. Destroy it once the
// QApplication exists; the environment is then as it was, so that a program
// started from this one chooses its platform afresh. On any other platform
// nothing changes.
class HeadlessScreens {
 public:
  explicit HeadlessScreens(std::span<const QRect> screens);
  ~HeadlessScreens();
  HeadlessScreens(const HeadlessScreens&) = delete;
  HeadlessScreens& operator=(const HeadlessScreens&) = delete;

  bool Applied() const { return m_file != nullptr; }

 private:
  QByteArray m_previous;
  std::unique_ptr<QTemporaryFile> m_file;  // the platform reads its screens from it
};

}  // namespace platform
