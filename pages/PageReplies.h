// The board's replies as the pages hear of them: a register the chip was
// read from is noted in the chip model first (whoever asked, the chip said
// so), then the reply goes to the page that waits for it, by the reply
// router's table and the pages that exist now. Whoever receives the board's
// replies (the main window, or a small host of a test) hands them on here.
#pragma once

#include "platform/MessageTarget.h"

// Returns how many pages the reply went to.
int DeliverPageReply(const platform::Message& reply);
