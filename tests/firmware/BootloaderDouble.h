// The bootloader on a thread of its own, in place of the board and the HID
// reader: each record the worker sends is carried out by the simulated
// bootloader, its answer passed through a per-test hook that may change or
// drop it, and handed to the context the way the reader thread does.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "firmware/BootRecord.h"
#include "link/QVCommunication.h"
#include "sim/SimBootloader.h"

class BootloaderDouble {
 public:
  // Called on the double's thread with each request and the answer the
  // bootloader would give (none for records it ignores); returns what is
  // sent back (nothing: stay silent).
  using Hook = std::function<std::optional<boot::Record>(const boot::Record& request,
                                                        std::optional<boot::Record> answer)>;

  BootloaderDouble() : thread_([this] { Loop(); }) {}
  ~BootloaderDouble() { Stop(); }

  // Like the transport's sink registration: once it returns, no call into
  // the previous sink is running.
  void Attach(BootReplySink* sink) {
    std::lock_guard lock(sinkMutex_);
    sink_ = sink;
  }
  // Once this returns, no call of the previous hook is running, so what it
  // captured may go.
  void SetHook(Hook hook) {
    std::lock_guard hookLock(hookMutex_);
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
  }
  // An unwritable link refuses every record, as a board that is gone does.
  void SetWritable(bool writable) {
    std::lock_guard lock(mutex_);
    writable_ = writable;
  }

  bool Write(const boot::Record& record) {
    std::lock_guard lock(mutex_);
    sent_.push_back(record);
    if (!writable_) return false;
    pending_.push_back(record);
    cv_.notify_all();
    return true;
  }

  std::vector<boot::Record> Sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  std::vector<std::uint8_t> Flash(std::size_t offset, std::size_t length) const {
    std::lock_guard lock(mutex_);
    return bootloader_.Flash(offset, length);
  }

  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
      cv_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      cv_.wait(lock, [&] { return stop_ || !pending_.empty(); });
      if (stop_) return;
      const boot::Record request = pending_.front();
      pending_.pop_front();
      const auto outcome = bootloader_.Handle(request, config_, faults_, rng_);
      lock.unlock();
      std::optional<boot::Record> answer = outcome.reply;
      {
        std::lock_guard hookLock(hookMutex_);
        if (hook_) answer = hook_(request, answer);
      }
      if (answer) {
        std::lock_guard sinkLock(sinkMutex_);
        if (sink_) sink_->OnBootReply(answer->data());
      }
      lock.lock();
    }
  }

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<boot::Record> pending_;
  std::vector<boot::Record> sent_;
  bool writable_ = true;
  bool stop_ = false;
  std::mutex hookMutex_;  // held while the hook runs
  Hook hook_;
  sim::SimBootloader bootloader_;
  const sim::SimConfig config_{};
  const sim::SimFaults faults_{};
  std::mt19937 rng_{1};

  std::mutex sinkMutex_;
  BootReplySink* sink_ = nullptr;

  std::thread thread_;  // last: starts once everything above exists
};
