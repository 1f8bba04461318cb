#include "ui/GifSplitter.h"

#include <limits>

namespace gif {
namespace {

// Offsets in the logical screen descriptor.
constexpr std::size_t kWidthOffset = 6;
constexpr std::size_t kHeightOffset = 8;
constexpr std::size_t kScreenPackedOffset = 10;
constexpr std::uint8_t kColourTablePresent = 0x80;
constexpr std::uint8_t kColourTableSizeBits = 0x07;

constexpr std::uint8_t kExtensionIntroducer = 0x21;
constexpr std::uint8_t kImageSeparator = 0x2C;
constexpr std::uint8_t kLabelApplication = 0xFF;
constexpr std::uint8_t kLabelComment = 0xFE;
constexpr std::uint8_t kLabelGraphicControl = 0xF9;
constexpr std::uint8_t kLabelPlainText = 0x01;

// Fixed parts of the blocks, before their sub-blocks.
constexpr std::size_t kApplicationFixed = 14;
constexpr std::size_t kCommentFixed = 2;
constexpr std::size_t kGraphicControlLength = 8;  // the whole block
constexpr std::size_t kPlainTextFixed = 15;
constexpr std::size_t kImageFixed = 11;  // descriptor and the LZW code size, without the local table
constexpr std::size_t kImagePackedOffset = 9;
constexpr std::size_t kImageLeftOffset = 1, kImageTopOffset = 3, kImageWidthOffset = 5, kImageHeightOffset = 7;
constexpr std::size_t kControlPackedOffset = 3;
constexpr std::size_t kControlDelayOffset = 4;
constexpr unsigned kDisposalShift = 2;
constexpr std::uint8_t kDisposalMask = 0x07;

constexpr std::uint16_t kShortestDelay = 5;  // hundredths; shorter ones are not honoured
constexpr std::chrono::milliseconds kDefaultWait{100};

enum class Kind { kApplication, kComment, kGraphicControl, kPlainText, kImage, kTrailer };

struct Block {
  Kind kind;
  std::size_t start;
  std::size_t end;  // > start, <= data size
};

std::uint16_t U16(std::span<const std::uint8_t> data, std::size_t at) {
  return static_cast<std::uint16_t>(data[at] | (data[at + 1] << 8));
}

std::size_t ColourTableSize(std::uint8_t packed) {
  return (packed & kColourTablePresent) ? 3u << ((packed & kColourTableSizeBits) + 1) : 0u;
}

// End of a run of sub-blocks starting at `p` (past its zero terminator), or
// nothing when the run does not end inside the data.
std::optional<std::size_t> SubBlocksEnd(std::span<const std::uint8_t> data, std::size_t p) {
  for (;;) {
    if (p >= data.size()) return std::nullopt;
    const std::size_t size = data[p];
    if (size == 0) return p + 1;
    if (size > data.size() - p - 1) return std::nullopt;
    p += 1 + size;
  }
}

// The block at `pos`, or nothing when the scan must stop there: the data
// ends, the block is unknown, or it would end beyond the data.
std::optional<Block> BlockAt(std::span<const std::uint8_t> data, std::size_t pos) {
  if (pos >= data.size()) return std::nullopt;
  const std::size_t left = data.size() - pos;
  const auto withSubBlocks = [&](Kind kind, std::size_t fixed) -> std::optional<Block> {
    if (fixed > left) return std::nullopt;
    const auto end = SubBlocksEnd(data, pos + fixed);
    if (!end) return std::nullopt;
    return Block{kind, pos, *end};
  };

  switch (data[pos]) {
    case kTrailer: return Block{Kind::kTrailer, pos, pos + 1};
    case kImageSeparator: {
      if (left <= kImagePackedOffset) return std::nullopt;
      return withSubBlocks(Kind::kImage, kImageFixed + ColourTableSize(data[pos + kImagePackedOffset]));
    }
    case kExtensionIntroducer: {
      if (left < 2) return std::nullopt;
      switch (data[pos + 1]) {
        case kLabelApplication: return withSubBlocks(Kind::kApplication, kApplicationFixed);
        case kLabelComment: return withSubBlocks(Kind::kComment, kCommentFixed);
        case kLabelPlainText: return withSubBlocks(Kind::kPlainText, kPlainTextFixed);
        case kLabelGraphicControl:
          if (kGraphicControlLength > left) return std::nullopt;
          return Block{Kind::kGraphicControl, pos, pos + kGraphicControlLength};
        default: return std::nullopt;
      }
    }
    default: return std::nullopt;
  }
}

bool Renders(Kind kind) { return kind == Kind::kImage || kind == Kind::kPlainText; }

}  // namespace

bool HasSignature(std::span<const std::uint8_t> data) {
  return data.size() >= 3 && data[0] == 'G' && data[1] == 'I' && data[2] == 'F';
}

std::optional<Screen> ReadScreen(std::span<const std::uint8_t> data) {
  if (!HasSignature(data) || data.size() < kScreenDescriptorEnd) return std::nullopt;
  const std::size_t table = ColourTableSize(data[kScreenPackedOffset]);
  if (table > data.size() - kScreenDescriptorEnd) return std::nullopt;
  return Screen{U16(data, kWidthOffset), U16(data, kHeightOffset), kScreenDescriptorEnd + table};
}

std::vector<FrameSlice> SplitFrames(std::span<const std::uint8_t> data, const Screen& screen) {
  std::vector<FrameSlice> frames;
  if (screen.blocksStart > data.size()) return frames;
  std::size_t pos = screen.blocksStart;
  while (auto block = BlockAt(data, pos)) {
    if (block->kind == Kind::kTrailer) break;
    pos = block->end;
    if (block->kind != Kind::kGraphicControl && !Renders(block->kind)) continue;

    FrameSlice frame;
    frame.start = block->start;
    if (block->kind == Kind::kGraphicControl) {
      frame.delay = U16(data, block->start + kControlDelayOffset);
      frame.disposal = (data[block->start + kControlPackedOffset] >> kDisposalShift) & kDisposalMask;
      // The frame's own rendering block follows, perhaps after other blocks
      // (a comment, another control extension): they go with the frame.
      for (block = BlockAt(data, pos); block && block->kind != Kind::kTrailer && !Renders(block->kind);
           block = BlockAt(data, pos))
        pos = block->end;
      if (!block || block->kind == Kind::kTrailer) break;
      pos = block->end;
    }
    if (block->kind == Kind::kImage) {
      const std::size_t s = block->start;
      frame.rect = Rect{U16(data, s + kImageLeftOffset), U16(data, s + kImageTopOffset),
                        U16(data, s + kImageWidthOffset), U16(data, s + kImageHeightOffset)};
    }
    frame.end = block->end;
    frames.push_back(frame);
  }
  return frames;
}

std::vector<std::uint8_t> FrameStream(std::span<const std::uint8_t> data, const Screen& screen,
                                      const FrameSlice& frame) {
  std::vector<std::uint8_t> stream;
  if (screen.blocksStart > data.size() || frame.start >= frame.end || frame.end > data.size()) return stream;
  stream.reserve(screen.blocksStart + (frame.end - frame.start) + 1);
  stream.insert(stream.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(screen.blocksStart));
  stream.insert(stream.end(), data.begin() + static_cast<std::ptrdiff_t>(frame.start),
                data.begin() + static_cast<std::ptrdiff_t>(frame.end));
  stream.push_back(kTrailer);
  return stream;
}

std::chrono::milliseconds FrameWait(std::optional<std::uint16_t> delay) {
  if (!delay || *delay < kShortestDelay) return kDefaultWait;
  return std::chrono::milliseconds(std::uint32_t{*delay} * 10u);
}

std::uint64_t HeldBytes(const Screen& screen, std::size_t frames) {
  // At most 65535 x 65535 x 4 bytes a screen, so this product cannot wrap;
  // the one by the frame count can, and is checked.
  const std::uint64_t perScreen = std::uint64_t{screen.width} * screen.height * kBytesPerPixel;
  const std::uint64_t perFrame = perScreen + kBytesPerFrame;
  constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t beside = perScreen * (frames > 1 ? kScreensBesideAnimation : kScreensBesideStill);
  if (frames > (kMost - beside) / perFrame) return kMost;
  return beside + perFrame * frames;
}

Fit FitInBudget(const Screen& screen, std::size_t frames) {
  if (frames > 1 && HeldBytes(screen, frames) <= kMemoryBudget) return Fit::kAnimation;
  if (frames >= 1 && HeldBytes(screen, 1) <= kMemoryBudget) return Fit::kStill;
  return Fit::kNothing;
}

}  // namespace gif
