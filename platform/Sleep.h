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

// For a pause that is waited out some other way than by sleeping (a timed
// step of the window): hands it to the installed hook and returns true, so
// the caller need not wait; returns false when no hook is installed.
bool HandPauseToHook(std::uint32_t ms);

}  // namespace platform
