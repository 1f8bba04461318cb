// Pauses taken on purpose (report pacing, the settle pause before a handshake).
// Tests replace the sleeper with a recorder so they run at full speed and can
// check which pauses were taken.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

void SleepMs(std::uint32_t ms);

using SleepHook = std::function<void(std::uint32_t ms)>;
// Installs a replacement for SleepMs; an empty hook restores real sleeping.
void SetSleepHook(SleepHook hook);

}  // namespace platform
