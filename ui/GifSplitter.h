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

// What the picture control may hold for one GIF. A GIF's frames are decoded
// each at the full logical screen, whatever their own size, so a file of a
// few hundred bytes can name a screen and a frame count that take gigabytes
// (2048 x 2048 and thirty 1 x 1 frames: half a gigabyte). The screen and
// the frame count are weighed against this before anything is decoded.
inline constexpr std::uint64_t kMemoryBudget = 64ull << 20;
// Pixels are decoded to 32 bits.
inline constexpr std::uint64_t kBytesPerPixel = 4;
// Held besides the frames, each a whole screen: the off-screen image and
// the reader's own working image while it decodes; an animation also keeps
// the area saved under a frame that restores what it covered.
inline constexpr std::uint64_t kScreensBesideStill = 2;
inline constexpr std::uint64_t kScreensBesideAnimation = 3;
// Each frame costs this much besides its pixels (its picture's header and
// bookkeeping), so that a tiny screen with a vast frame count is bounded too.
inline constexpr std::uint64_t kBytesPerFrame = 1024;

enum class Fit {
  kAnimation,  // every frame fits
  kStill,      // only the first frame fits: it is shown still
  kNothing,    // not even one frame fits
};
// Bytes the control holds for `frames` decoded frames of this screen;
// saturates rather than wrap round.
std::uint64_t HeldBytes(const Screen& screen, std::size_t frames);
Fit FitInBudget(const Screen& screen, std::size_t frames);

}  // namespace gif
