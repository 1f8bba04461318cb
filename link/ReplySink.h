// Where the packet engine hands every accepted reply that is not link-level
// (handshake, protocol events). The engine knows nothing of what the replies
// mean; the command set turns them into notifications for whoever owns the
// link. Called on the HID reader thread with the engine's lock held: a sink
// posts and returns, it never calls back into the engine.
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
