// The link-state codes: what the transport manager posts to the main window
// (wParam of kMsgLinkState) and keeps as its current state. The engine raises
// some of them, the manager others; both name them here.
#pragma once

inline constexpr int kLinkProtocolNotMatch = 0;  // the handshake answer had the wrong content
inline constexpr int kLinkEventIdError = 1;      // (1, 8), or a (class, command) pair we do not accept
inline constexpr int kLinkDeviceNotFound = 2;    // no board opened, or it was removed
inline constexpr int kLinkDeviceFound = 3;       // the handshake was answered correctly
inline constexpr int kLinkGpioError = 5;         // stored by the main window, never posted
// A frame went unacknowledged through every retransmission: the board is
// attached but does not answer. Whoever owns the link resets and reconnects it.
inline constexpr int kLinkFailed = 6;

// Text of a link-state code, or null for a code that has none.
const char* LinkStateText(int code);

// True for the states after which nothing sent on the link gets an answer
// until it is connected again. A protocol event (1) is not one of them: the
// link carries on after it.
bool LinkStateIsDown(int code);
