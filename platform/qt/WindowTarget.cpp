#include "platform/qt/WindowTarget.h"

#include <atomic>
#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <algorithm>
#include <mutex>

namespace platform {
namespace {

const QEvent::Type kMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class MessageEvent final : public QEvent {
 public:
  explicit MessageEvent(Message m) : QEvent(kMessageEvent), message(std::move(m)) {}
  Message message;
};

}  // namespace

// The registry's view of the window: it may be reached from any thread and may
// outlive the window by a moment, so it holds the window under a lock that the
// window clears before it goes.
class WindowTarget::Bridge final : public MessageTarget {
 public:
  explicit Bridge(WindowTarget* owner) : owner_(owner) {}

  void Detach() {
    std::lock_guard lock(mutex_);
    owner_ = nullptr;
  }

  void Deliver(Message message) override {
    std::lock_guard lock(mutex_);
    if (owner_) QCoreApplication::postEvent(owner_, new MessageEvent(std::move(message)));
  }

  void SetTimer(std::uint32_t id, std::uint32_t periodMs) override {
    std::lock_guard lock(mutex_);
    if (!owner_) return;
    WindowTarget* owner = owner_;
    if (QThread::currentThread() == owner->thread()) {
      owner->SetTimer(id, periodMs);
    } else {
      QMetaObject::invokeMethod(owner, [owner, id, periodMs] { owner->SetTimer(id, periodMs); },
                                Qt::QueuedConnection);
    }
  }

  void KillTimer(std::uint32_t id) override {
    std::lock_guard lock(mutex_);
    if (!owner_) return;
    WindowTarget* owner = owner_;
    if (QThread::currentThread() == owner->thread()) {
      owner->KillTimer(id);
    } else {
      QMetaObject::invokeMethod(owner, [owner, id] { owner->KillTimer(id); }, Qt::QueuedConnection);
    }
  }

 private:
  std::mutex mutex_;
  WindowTarget* owner_;
};

WindowTarget::WindowTarget(QObject* parent, MessageWindow* window)
    : QObject(parent), window_(window), bridge_(std::make_shared<Bridge>(this)) {
  handle_ = RegisterTarget(bridge_);
}

WindowTarget::~WindowTarget() {
  UnregisterTarget(handle_);
  bridge_->Detach();  // nothing is posted to us from here on
}

namespace {
std::atomic<int> g_timerSpeedUp{1};
}  // namespace

void WindowTarget::SetTimerSpeedUp(int factor) { g_timerSpeedUp = factor < 1 ? 1 : factor; }

void WindowTarget::SetTimer(std::uint32_t id, std::uint32_t periodMs) {
  if (const int speedUp = g_timerSpeedUp.load(std::memory_order_relaxed); speedUp > 1 && periodMs > 0)
    periodMs = std::max<std::uint32_t>(1, periodMs / static_cast<std::uint32_t>(speedUp));
  QTimer*& timer = timers_[id];
  if (!timer) {
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this, id] {
      if (window_) window_->OnTimer(id);
    });
  }
  timer->start(static_cast<int>(periodMs));
}

void WindowTarget::KillTimer(std::uint32_t id) {
  auto it = timers_.find(id);
  if (it != timers_.end() && it->second) it->second->stop();
}

void WindowTarget::Silence() {
  UnregisterTarget(handle_);
  bridge_->Detach();
  for (auto& [id, timer] : timers_)
    if (timer) timer->stop();
  window_ = nullptr;
}

std::map<std::uint32_t, std::uint32_t> WindowTarget::ArmedTimers() const {
  std::map<std::uint32_t, std::uint32_t> armed;
  for (const auto& [id, timer] : timers_)
    if (timer && timer->isActive()) armed[id] = static_cast<std::uint32_t>(timer->interval());
  return armed;
}

void WindowTarget::DeliverPosted() { QCoreApplication::sendPostedEvents(nullptr, kMessageEvent); }

bool WindowTarget::event(QEvent* e) {
  if (e->type() == kMessageEvent) {
    if (window_) window_->OnMessage(static_cast<MessageEvent*>(e)->message);
    return true;
  }
  return QObject::event(e);
}

}  // namespace platform
