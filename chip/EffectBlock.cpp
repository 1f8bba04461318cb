#include "chip/EffectBlock.h"

#include <algorithm>

namespace chip {
namespace {

int ClampLeds(int ledCount) { return std::clamp(ledCount, 0, kEffectTableLeds); }

void PutU16(std::vector<std::uint8_t>& block, std::size_t offset, std::uint16_t value) {
  block[offset] = static_cast<std::uint8_t>(value & 0xFF);
  block[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

std::size_t EffectBlockLength(int ledCount) {
  return kEffectHeadSize + 4u * kEffectFrames * static_cast<std::size_t>(ClampLeds(ledCount));
}

std::vector<std::uint8_t> EffectDataBlock(int ledCount) {
  const int n = ClampLeds(ledCount);
  std::vector<std::uint8_t> block(EffectBlockLength(n), 0);
  block[kEffectFrameCountOffset] = kEffectFrames;
  PutU16(block, kEffectColourBytesOffset, static_cast<std::uint16_t>(3 * n));
  PutU16(block, kEffectLedCountOffset, static_cast<std::uint16_t>(n));
  PutU16(block, kEffectTimingOffset, kEffectTiming);
  // Colours (3 x frames x LEDs) and brightness (frames x LEDs) follow the
  // head; the effect's tables are all zero, and so are they.
  return block;
}

std::array<std::uint8_t, 4> EffectBlockHeader(std::uint8_t boardKind, std::size_t length) {
  const auto n = static_cast<std::uint16_t>(std::min<std::size_t>(length, 0xFFFF));
  return {boardKind, kEffectUploadMode, static_cast<std::uint8_t>(n & 0xFF), static_cast<std::uint8_t>(n >> 8)};
}

}  // namespace chip
