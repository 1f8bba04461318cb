// The effect data that goes to the lamp board with command (64, 1) while the
// effect dialog opens: a 20-byte head, then each frame's colour (red, green,
// blue per LED) and each frame's brightness per LED. The one place that knows
// its layout. Pure C++.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace chip {

// Byte 1 of the chip block header of an effect upload (0 is the board query).
inline constexpr std::uint8_t kEffectUploadMode = 2;

// The colour and brightness tables hold this many LEDs per frame; a block
// carries the first `ledCount` of them.
inline constexpr int kEffectTableLeds = 36;
inline constexpr std::uint8_t kEffectFrames = 1;

// Offsets in the block.
inline constexpr std::size_t kEffectHeadSize = 20;
inline constexpr std::size_t kEffectFrameCountOffset = 1;
inline constexpr std::size_t kEffectColourBytesOffset = 2;  // u16: 3 x LEDs
inline constexpr std::size_t kEffectLedCountOffset = 4;     // u16
inline constexpr std::size_t kEffectTimingOffset = 6;       // u16
inline constexpr std::uint16_t kEffectTiming = 200;         // what the board expects there

// Length of the block for `ledCount` LEDs (clamped to 0..36): 20 + 4 x LEDs
// for one frame.
std::size_t EffectBlockLength(int ledCount);
// The block itself. The tables start all zero, so only the head carries
// values.
std::vector<std::uint8_t> EffectDataBlock(int ledCount);
// The 4-byte chip block header announcing `length` data bytes.
std::array<std::uint8_t, 4> EffectBlockHeader(std::uint8_t boardKind, std::size_t length);

}  // namespace chip
