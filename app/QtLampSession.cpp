#include "app/QtLampSession.h"

#include <QTimer>

#include "link/BoardIds.h"
#include "platform/qt/TimedStep.h"

QtLampSession::QtLampSession(session::LampSession& session, Owner owner, QObject* parent)
    : QObject(parent), session_(session), owner_(std::move(owner)) {
  session_.SetObserver(this);
  session_.DriveFrom(this);
}

QtLampSession::~QtLampSession() {
  // The session outlives the window that drove it.
  session_.DriveFrom(nullptr);
  session_.SetObserver(nullptr);
}

void QtLampSession::SetTimer(std::uint32_t id, std::uint32_t ms) {
  QTimer*& timer = timers_[id];
  if (!timer) {
    timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, id] { session_.OnTimer(id); });
  }
  timer->start(static_cast<int>(ms));
}

void QtLampSession::KillTimer(std::uint32_t id) {
  if (auto it = timers_.find(id); it != timers_.end()) it->second->stop();
}

bool QtLampSession::IsTimerArmed(std::uint32_t id) const {
  const auto it = timers_.find(id);
  return it != timers_.end() && it->second->isActive();
}

void QtLampSession::RunAfterPause(std::uint32_t ms, std::function<void()> then) {
  // No pause at all is the loop's next turn (not a pause a test records).
  if (ms == 0) QTimer::singleShot(0, this, std::move(then));
  else platform::RunAfterPause(this, ms, std::move(then));
}

std::uint8_t QtLampSession::BoardKind() const { return owner_.boardKind ? owner_.boardKind() : kBoardKindRoundPage; }
