// The framed link's wire format: the one place that names its offsets, sizes
// and codes. No other file indexes raw frame bytes.
//
//  0  magic 5A 5A          8  sequence (u16)       14  command (u16)
//  2  address byte          10  CRC-16 of 12..end   16  payload length (u16)
//  3  address high (0)      12  format marker 0x10  18  payload, then (in our
//  4  length (u16) = size-6 13  class                   frames) one trailing byte
//  6  reserved, 7 frame type
// ACK and NAK frames end after the checksum field (12 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

namespace frame {

inline constexpr std::size_t kMagicOffset = 0;
inline constexpr std::size_t kAddressOffset = 2;
inline constexpr std::size_t kAddressHighOffset = 3;
inline constexpr std::size_t kLengthOffset = 4;
inline constexpr std::size_t kReservedOffset = 6;
inline constexpr std::size_t kTypeOffset = 7;
inline constexpr std::size_t kSequenceOffset = 8;
inline constexpr std::size_t kChecksumOffset = 10;
inline constexpr std::size_t kMarkerOffset = 12;
inline constexpr std::size_t kClassOffset = 13;
inline constexpr std::size_t kCommandOffset = 14;
inline constexpr std::size_t kPayloadLengthOffset = 16;
inline constexpr std::size_t kPayloadOffset = 18;

inline constexpr std::uint8_t kMagicByte = 0x5A;
inline constexpr std::uint8_t kFormatMarker = 0x10;
inline constexpr std::uint8_t kTypeData = 0x00;
inline constexpr std::uint8_t kTypeAck = 0x10;
inline constexpr std::uint8_t kTypeNak = 0x11;
inline constexpr std::uint8_t kTrailingByte = 0x00;  // counted and checksummed, no meaning

inline constexpr std::size_t kHeaderSize = 6;        // magic, address, length
inline constexpr std::size_t kAckFrameSize = 12;
inline constexpr std::size_t kBodyHeaderSize = 6;    // marker, class, command, payload length
inline constexpr std::uint32_t kMinLengthField = 6;
inline constexpr std::uint32_t kMaxLengthField = 5794;
inline constexpr std::size_t kMaxFrameSize = kHeaderSize + kMaxLengthField;  // 5800
// The largest payload we send: its frame (payload + 19 bytes, with the
// trailing byte) must fit a packet record and the length field a receiver
// accepts. A 5782-byte payload would make a 5801-byte frame.
inline constexpr std::size_t kMaxPayload = kMaxFrameSize - kPayloadOffset - 1;  // 5781
static_assert(kPayloadOffset + kMaxPayload + 1 == kMaxFrameSize);
inline constexpr std::size_t kReportSize = 64;

// Endpoint nibbles.
inline constexpr std::uint8_t kBoardEndpoint = 1;
inline constexpr std::uint8_t kHostEndpoint = 4;
inline constexpr std::uint8_t kFilteredEndpoint = 8;  // duplicates from it are dropped

inline std::uint16_t ReadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline void WriteU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v & 0xFF);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace frame
