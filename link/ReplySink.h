// Where the packet engine hands every accepted reply that is not link-level
// (handshake, protocol events). The engine knows nothing of what the replies
// mean; the command set turns them into notifications for whoever owns the
// link. Called on the HID reader thread after the engine has let go of its
// lock, before the reply's ACK is written: a sink posts and returns, and never
// changes the engine's host or sink (that waits for the sink's call to end).
#pragma once

#include <cstdint>
#include <span>

class ReplySink {
 public:
  virtual ~ReplySink() = default;
  // `payload` never reaches past the received frame; `payloadLengthField`
  // is the length the frame claimed.
  virtual void OnReply(std::uint8_t cls, std::uint8_t cmd, std::span<const std::uint8_t> payload,
                       std::uint16_t payloadLengthField) = 0;
};
