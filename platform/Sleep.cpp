#include "platform/Sleep.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {
namespace {
std::mutex g_hookMutex;
std::shared_ptr<const SleepHook> g_hook;
}  // namespace

bool HandPauseToHook(std::uint32_t ms) {
  std::shared_ptr<const SleepHook> hook;
  {
    std::lock_guard lock(g_hookMutex);
    hook = g_hook;
  }
  if (!hook) return false;
  (*hook)(ms);  // outside the lock: a hook may take a while or install another
  return true;
}

void SleepMs(std::uint32_t ms) {
  if (HandPauseToHook(ms)) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetSleepHook(SleepHook hook) {
  std::lock_guard lock(g_hookMutex);
  g_hook = hook ? std::make_shared<const SleepHook>(std::move(hook)) : nullptr;
}

}  // namespace platform
