// Threads the program starts leave asynchronous signals (Ctrl-C) to the
// thread that waits for the user.
#pragma once

namespace platform {

void BlockAsyncSignalsInThisThread();

}  // namespace platform
