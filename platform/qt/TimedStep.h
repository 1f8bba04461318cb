// A pause on the UI thread that does not stop the window: the rest of the
// work is a step that the event loop runs once the time is up, so the window
// keeps painting and taking input meanwhile.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>

namespace platform {

// Runs `step` on `context`'s thread from its event loop once `ms` have passed;
// the step is dropped if `context` is destroyed first. While a sleep hook is
// installed (tests), the pause is handed to it instead of being waited out and
// the step runs at the next turn of the event loop.
void RunAfterPause(QObject* context, std::uint32_t ms, std::function<void()> step);

}  // namespace platform
