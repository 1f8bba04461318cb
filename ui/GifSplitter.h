// Splitting a GIF into its frames, each as a complete one-frame GIF stream
// that any GIF decoder can turn into one picture. The animated picture
// control decodes the streams and plays them; the splitting itself is pure
// C++ (no Qt) so that it can be fuzzed on its own.
//
// Nothing here trusts the data: every block, sub-block run and table is
// checked against the end of the data before a byte of it is read, and a
// block that would pass the end ends the scan.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace gif {

// Signature, logical screen descriptor.
inline constexpr std::size_t kScreenDescriptorEnd = 13;
inline constexpr std::uint8_t kTrailer = 0x3B;

// True when the data begins with "GIF" (the version is not looked at).
bool HasSignature(std::span<const std::uint8_t> data);

struct Screen {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::size_t blocksStart = 0;  // 13 + size of the global colour table
};
// The logical screen and where the blocks begin; nothing when the data is
// not a GIF or ends inside the header or the global colour table.
std::optional<Screen> ReadScreen(std::span<const std::uint8_t> data);

struct Rect {
  std::uint16_t left = 0, top = 0, width = 0, height = 0;
};

// One frame: the bytes from its graphic control extension (or its rendering
// block, when it has none) to the end of its rendering block.
struct FrameSlice {
  std::size_t start = 0;
  std::size_t end = 0;                 // start < end <= data size
  std::optional<std::uint16_t> delay;  // hundredths of a second; none without a graphic control extension
  std::uint8_t disposal = 0;           // 0 without a graphic control extension
  std::optional<Rect> rect;            // none for a plain-text extension
};

// Every frame, in order. The scan stops at the trailer, at a block it does
// not know, and at a block that would end beyond the data.
std::vector<FrameSlice> SplitFrames(std::span<const std::uint8_t> data, const Screen& screen);

// The header (up to the blocks), the frame's bytes, the trailer.
std::vector<std::uint8_t> FrameStream(std::span<const std::uint8_t> data, const Screen& screen,
                                      const FrameSlice& frame);

// How long a frame stays: its delay when it is at least 5 hundredths, else
// 100 ms (also when it has no delay at all).
std::chrono::milliseconds FrameWait(std::optional<std::uint16_t> delay);

}  // namespace gif
