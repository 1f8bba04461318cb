// Posted messages between threads and windows.
//
// A Handle names a live message target. Posting to a handle whose target has
// gone does nothing and returns false, so a worker that outlives a window
// cannot reach into freed memory. Payloads travel as reference-counted,
// immutable copies: the sender's buffer can be reused at once and the copy
// dies with the last handler that looked at it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform {

using Handle = std::uint32_t;  // 0 never names a target
inline constexpr Handle kNoHandle = 0;

struct MessagePayload {
  virtual ~MessagePayload() = default;
};

// The usual payload: a copy of the bytes of a reply.
struct BytesPayload final : MessagePayload {
  explicit BytesPayload(std::vector<std::uint8_t> b) : bytes(std::move(b)) {}
  std::vector<std::uint8_t> bytes;
};

// A plain number where a window message would carry one in lParam.
struct ValuePayload final : MessagePayload {
  explicit ValuePayload(std::intptr_t v) : value(v) {}
  std::intptr_t value;
};

struct Message {
  std::uint32_t id = 0;
  std::uintptr_t wParam = 0;
  std::shared_ptr<const MessagePayload> lParam;

  // The payload as bytes, or null when it carries none (or something else).
  const std::vector<std::uint8_t>* Bytes() const {
    auto* p = dynamic_cast<const BytesPayload*>(lParam.get());
    return p ? &p->bytes : nullptr;
  }
  std::intptr_t Value() const {
    auto* p = dynamic_cast<const ValuePayload*>(lParam.get());
    return p ? p->value : 0;
  }
  template <typename T>
  const T* PayloadAs() const {
    return dynamic_cast<const T*>(lParam.get());
  }
};

class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  // Called on the posting thread; implementations hand the message over to
  // their own thread and return at once.
  virtual void Deliver(Message message) = 0;
  virtual void SetTimer(std::uint32_t id, std::uint32_t periodMs) = 0;
  virtual void KillTimer(std::uint32_t id) = 0;
};

// Registry of live targets.
Handle RegisterTarget(std::shared_ptr<MessageTarget> target);
void UnregisterTarget(Handle handle);
bool IsLiveHandle(Handle handle);

bool PostMessage(Handle handle, std::uint32_t id, std::uintptr_t wParam = 0,
                 std::shared_ptr<const MessagePayload> lParam = {});
bool SetTimer(Handle handle, std::uint32_t id, std::uint32_t periodMs);
bool KillTimer(Handle handle, std::uint32_t id);

// A thread-safe queue of messages: the target of the command-line tool and of
// the tests. Timers are not run, only recorded, so a test can see which are
// armed and fire them itself.
class QueueTarget final : public MessageTarget {
 public:
  void Deliver(Message message) override;
  void SetTimer(std::uint32_t id, std::uint32_t periodMs) override;
  void KillTimer(std::uint32_t id) override;

  // Waits up to `timeout` for the next message.
  std::optional<Message> Wait(std::chrono::milliseconds timeout);
  // Waits for the next message with the given id, dropping others on the way.
  std::optional<Message> WaitFor(std::uint32_t id, std::chrono::milliseconds timeout);
  std::vector<Message> Drain();
  std::size_t Pending() const;

  struct TimerCall {
    bool set;  // false: kill
    std::uint32_t id;
    std::uint32_t periodMs;
  };
  std::map<std::uint32_t, std::uint32_t> ArmedTimers() const;
  std::vector<TimerCall> TimerLog() const;
  void ClearTimerLog();

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Message> queue_;
  std::map<std::uint32_t, std::uint32_t> timers_;
  std::vector<TimerCall> timerLog_;
};

// Registers a QueueTarget for as long as the object lives.
class ScopedQueueTarget {
 public:
  ScopedQueueTarget();
  ~ScopedQueueTarget();
  ScopedQueueTarget(const ScopedQueueTarget&) = delete;
  ScopedQueueTarget& operator=(const ScopedQueueTarget&) = delete;

  Handle handle() const { return handle_; }
  QueueTarget& queue() { return *target_; }
  QueueTarget* operator->() { return target_.get(); }

 private:
  std::shared_ptr<QueueTarget> target_;
  Handle handle_;
};

}  // namespace platform
