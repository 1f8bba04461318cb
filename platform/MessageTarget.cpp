#include "platform/MessageTarget.h"

#include <unordered_map>

namespace platform {
namespace {

struct Registry {
  std::mutex mutex;
  std::unordered_map<Handle, std::shared_ptr<MessageTarget>> targets;
  Handle next = 1;
};

Registry& registry() {
  static Registry r;
  return r;
}

std::shared_ptr<MessageTarget> Lookup(Handle handle) {
  if (handle == kNoHandle) return nullptr;
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.targets.find(handle);
  return it == r.targets.end() ? nullptr : it->second;
}

}  // namespace

Handle RegisterTarget(std::shared_ptr<MessageTarget> target) {
  if (!target) return kNoHandle;
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  Handle h = r.next++;
  if (r.next == kNoHandle) r.next = 1;
  r.targets.emplace(h, std::move(target));
  return h;
}

void UnregisterTarget(Handle handle) {
  std::shared_ptr<MessageTarget> keep;  // destroyed outside the lock
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.targets.find(handle);
  if (it == r.targets.end()) return;
  keep = std::move(it->second);
  r.targets.erase(it);
}

bool IsLiveHandle(Handle handle) { return Lookup(handle) != nullptr; }

bool PostMessage(Handle handle, std::uint32_t id, std::uintptr_t wParam,
                 std::shared_ptr<const MessagePayload> lParam) {
  auto target = Lookup(handle);
  if (!target) return false;
  target->Deliver(Message{id, wParam, std::move(lParam)});
  return true;
}

bool SetTimer(Handle handle, std::uint32_t id, std::uint32_t periodMs) {
  auto target = Lookup(handle);
  if (!target) return false;
  target->SetTimer(id, periodMs);
  return true;
}

bool KillTimer(Handle handle, std::uint32_t id) {
  auto target = Lookup(handle);
  if (!target) return false;
  target->KillTimer(id);
  return true;
}

void QueueTarget::Deliver(Message message) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(message));
  }
  cv_.notify_all();
}

void QueueTarget::SetTimer(std::uint32_t id, std::uint32_t periodMs) {
  std::lock_guard lock(mutex_);
  timers_[id] = periodMs;
  timerLog_.push_back({true, id, periodMs});
}

void QueueTarget::KillTimer(std::uint32_t id) {
  std::lock_guard lock(mutex_);
  timers_.erase(id);
  timerLog_.push_back({false, id, 0});
}

std::optional<Message> QueueTarget::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!cv_.wait_for(lock, timeout, [&] { return !queue_.empty(); })) return std::nullopt;
  Message m = std::move(queue_.front());
  queue_.pop_front();
  return m;
}

std::optional<Message> QueueTarget::WaitFor(std::uint32_t id, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return std::nullopt;
    auto m = Wait(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
    if (!m) return std::nullopt;
    if (m->id == id) return m;
  }
}

std::vector<Message> QueueTarget::Drain() {
  std::lock_guard lock(mutex_);
  std::vector<Message> out(std::make_move_iterator(queue_.begin()),
                           std::make_move_iterator(queue_.end()));
  queue_.clear();
  return out;
}

std::size_t QueueTarget::Pending() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

std::map<std::uint32_t, std::uint32_t> QueueTarget::ArmedTimers() const {
  std::lock_guard lock(mutex_);
  return timers_;
}

std::vector<QueueTarget::TimerCall> QueueTarget::TimerLog() const {
  std::lock_guard lock(mutex_);
  return timerLog_;
}

void QueueTarget::ClearTimerLog() {
  std::lock_guard lock(mutex_);
  timerLog_.clear();
}

ScopedQueueTarget::ScopedQueueTarget()
    : target_(std::make_shared<QueueTarget>()), handle_(RegisterTarget(target_)) {}

ScopedQueueTarget::~ScopedQueueTarget() { UnregisterTarget(handle_); }

}  // namespace platform
