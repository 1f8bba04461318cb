#include "platform/qt/TimedStep.h"

#include <QTimer>

#include "platform/Sleep.h"

namespace platform {

void RunAfterPause(QObject* context, std::uint32_t ms, std::function<void()> step) {
  const int wait = HandPauseToHook(ms) ? 0 : static_cast<int>(ms);
  // Precise: a coarse timer may end a 1200 ms pause 60 ms early.
  QTimer::singleShot(wait, Qt::PreciseTimer, context, std::move(step));
}

}  // namespace platform
