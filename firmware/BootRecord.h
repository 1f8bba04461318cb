// The bootloader's raw 64-byte records: the one place that names their
// opcodes and offsets. Records bypass the framed link; each travels as the 64
// data bytes of one HID report. Numbers are little-endian.
//
//  byte 0      opcode
//  bytes 1..3  0 in requests; byte 1 is the result (1 = done) in answers,
//              bytes 1..4 the boot version in the connect answer
//  bytes 4..7  erase length, block offset or bytes written
//  bytes 8..39 block data (write), bytes 8..11 check word (check)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace boot {

inline constexpr std::size_t kRecordSize = 64;
using Record = std::array<std::uint8_t, kRecordSize>;

inline constexpr std::uint8_t kOpConnect = 0xE0;    // to board; answered with the boot version
inline constexpr std::uint8_t kOpErase = 0xE1;      // to board and answer
inline constexpr std::uint8_t kOpBlock = 0xE2;      // to board: write one block
inline constexpr std::uint8_t kOpBlockEcho = 0xE3;  // answer to kOpBlock
inline constexpr std::uint8_t kOpCheck = 0xE4;      // to board and answer
inline constexpr std::uint8_t kOpEnd = 0xE5;        // to board and answer: run the firmware

inline constexpr std::size_t kOpcodeOffset = 0;
inline constexpr std::size_t kResultOffset = 1;
inline constexpr std::uint8_t kResultDone = 1;
inline constexpr std::size_t kVersionOffset = 1;
inline constexpr std::size_t kVersionParts = 4;
inline constexpr std::size_t kZeroFirst = 1;  // bytes 1..3 of a request are 0
inline constexpr std::size_t kZeroEnd = 4;
inline constexpr std::size_t kNumberOffset = 4;
inline constexpr std::size_t kBlockDataOffset = 8;
inline constexpr std::size_t kBlockSize = 32;
inline constexpr std::size_t kCheckWordOffset = 8;
inline constexpr std::uint8_t kBlockFill = 0xFF;  // bytes 40..63 of a block request

// The echo of a block must repeat these request bytes: offset and data.
inline constexpr std::size_t kEchoFirst = 1;
inline constexpr std::size_t kEchoEnd = kBlockDataOffset + kBlockSize;  // 40

inline void PutU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace boot
