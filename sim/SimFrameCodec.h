// The board's own half of the framed link: it builds the frames the bridge
// firmware sends and takes apart the ones the host sends. It is written apart
// from the host's codec on purpose, so that a framing fault on either side
// shows up against the other one in the end-to-end tests. This is the only
// file of the simulated board that names frame offsets.
//
//  0  magic 5A 5A          8  sequence (u16)       14  command (u16)
//  2  address byte          10  CRC-16 of 12..end   16  payload length (u16)
//  3  address high (0)      12  format marker 0x10  18  payload; host frames
//  4  length (u16) = size-6 13  class                   add one trailing byte
//  6  reserved, 7 frame type
// ACK and NAK frames end after the checksum field (12 bytes).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/SimBoard.h"

namespace sim::wire {

inline constexpr std::uint8_t kMagicByte = 0x5A;
inline constexpr std::uint8_t kFormatMarker = 0x10;
inline constexpr std::uint8_t kTypeData = 0x00;
inline constexpr std::uint8_t kTypeAck = 0x10;
inline constexpr std::uint8_t kTypeNak = 0x11;

// Endpoint nibbles of the address byte: high = sender, low = receiver.
inline constexpr std::uint8_t kBoardEndpoint = 1;
inline constexpr std::uint8_t kHostReplyEndpoint = 4;

inline constexpr std::size_t kLinkFrameSize = 12;  // ACK / NAK
// The host cuts payloads at 5782 bytes and adds a trailing byte, so its
// largest frame has a length field of 5795; anything longer is not a frame.
inline constexpr std::uint32_t kMinLengthField = 6;
inline constexpr std::uint32_t kMaxHostLengthField = 5795;
// What one of our frames can carry at most: the length field is 16 bits.
inline constexpr std::size_t kMaxBoardPayload = 0xFFFF - 12;

// Address byte of a frame the board sends to host endpoint `endpoint`.
constexpr std::uint8_t BoardAddress(std::uint8_t endpoint) {
  return static_cast<std::uint8_t>((kBoardEndpoint << 4) | (endpoint & 0x0F));
}

// A data frame from the board (no trailing byte). Payloads beyond what the
// length field can express are cut.
std::vector<std::uint8_t> EncodeDataFrame(std::uint8_t address, std::uint16_t sequence,
                                          std::uint8_t cls, std::uint8_t cmd,
                                          std::span<const std::uint8_t> payload);
// A 12-byte ACK or NAK frame.
std::vector<std::uint8_t> EncodeLinkFrame(std::uint8_t address, std::uint8_t type,
                                          std::uint16_t sequence);
// Cuts a frame into input reports; the last one is padded with zeros.
std::vector<Report> CutIntoReports(std::span<const std::uint8_t> frame);

// The frame size announced by a report that begins a frame (magic and a
// plausible length field), or nothing.
std::optional<std::size_t> FrameSizeAtStart(const Report& report);

struct HostCommand {
  std::uint8_t cls = 0;
  std::uint8_t cmd = 0;  // the low byte; the high byte carries no meaning
  std::span<const std::uint8_t> payload;  // points into the decoded frame
};

struct DecodedFrame {
  enum class Kind { kData, kAck, kNak, kOther };
  Kind kind = Kind::kOther;
  std::uint8_t senderEndpoint = 0;    // high nibble of the address byte
  std::uint8_t receiverEndpoint = 0;  // low nibble
  std::uint16_t sequence = 0;
  bool checksumOk = false;            // data frames only
  // Data frames: the checksum and the bytes it covers, i.e. everything but
  // the header the checksum leaves out (sequence number included).
  std::span<const std::uint8_t> protectedBytes;
  // Data frames with a checksum that holds and a body that fits the frame.
  std::optional<HostCommand> command;
};

// `frame` is a whole frame as the assembler hands it over: it starts with the
// magic and is exactly length field + 6 bytes long.
DecodedFrame DecodeFrame(std::span<const std::uint8_t> frame);

// Rebuilds host frames from 64-byte output reports by their length field.
// A report that starts no frame while none is in progress is discarded. A
// frame whose length field was damaged would otherwise swallow the reports
// of the frames after it; so when a partial frame has had no report for
// kStaleGap, the next report that starts with a plausible frame header
// begins a new frame instead. A late report that does not look like a frame
// start still continues the partial one: a slow host must not lose frames.
class FrameAssembler {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kStaleGap{20};

  enum class Fed { kDiscarded, kStarted, kContinued };

  bool InProgress() const { return total_ != 0; }
  std::size_t Taken() const { return buffer_.size(); }
  bool WouldStartFrame(const Report& report, Clock::time_point now) const;
  Fed Feed(const Report& report, Clock::time_point now);
  bool Complete() const { return total_ != 0 && buffer_.size() == total_; }
  // Hands over the completed frame and gets ready for the next one.
  std::vector<std::uint8_t> TakeFrame();
  void Reset();

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t total_ = 0;  // 0: no frame in progress
  Clock::time_point lastReport_{};
};

}  // namespace sim::wire
