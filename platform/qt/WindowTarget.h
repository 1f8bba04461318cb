// A window's end of posted messages and its timers.
//
// A window that wants link notifications and timers owns a WindowTarget (and
// destroys it first when it goes) and implements MessageWindow. The target
// registers a handle; messages posted to it from any thread arrive on the UI
// thread as events and are handed to OnMessage. Timers are Qt timers keyed by
// id; tests ask which are armed and call OnTimer themselves instead of waiting.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>

#include "platform/MessageTarget.h"

namespace platform {

class MessageWindow {
 public:
  virtual ~MessageWindow() = default;
  virtual void OnMessage(const Message& message) = 0;
  virtual void OnTimer(std::uint32_t id) = 0;
};

class WindowTarget final : public QObject {
  Q_OBJECT
 public:
  WindowTarget(QObject* parent, MessageWindow* window);
  ~WindowTarget() override;

  Handle handle() const { return handle_; }

  // UI thread; from any other thread they are forwarded to it.
  void SetTimer(std::uint32_t id, std::uint32_t periodMs);
  // Every window timer runs this many times faster (1: as asked). A test
  // that plays many user actions sets it, so that the pages' periodic work
  // (the 100 ms brightness write, the model refreshes) keeps pace.
  static void SetTimerSpeedUp(int factor);
  void KillTimer(std::uint32_t id);
  std::map<std::uint32_t, std::uint32_t> ArmedTimers() const;
  // From now on the window gets no message and no timer: for a window that
  // is on its way out but not yet deleted.
  void Silence();
  bool IsTimerArmed(std::uint32_t id) const { return ArmedTimers().count(id) != 0; }

  // Hands every message already posted to this window to it now (tests).
  static void DeliverPosted();

 protected:
  bool event(QEvent* e) override;

 private:
  class Bridge;
  MessageWindow* window_;
  std::shared_ptr<Bridge> bridge_;
  Handle handle_ = kNoHandle;
  std::map<std::uint32_t, QTimer*> timers_;
};

}  // namespace platform
