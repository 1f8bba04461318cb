// Arbitrary bytes into the GIF splitter: it must never read outside the
// data, never hang, and every frame it reports must lie inside the data, so
// that the one-frame streams it builds are made of the data's own bytes;
// what the picture control may keep of it stays within its memory budget.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "ui/GifSplitter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const auto screen = gif::ReadScreen(bytes);
  if (!screen) return 0;
  if (screen->blocksStart > size) std::abort();
  const auto frames = gif::SplitFrames(bytes, *screen);
  std::size_t previousEnd = screen->blocksStart;
  for (const gif::FrameSlice& f : frames) {
    // In order, not overlapping, inside the data.
    if (f.start < previousEnd || f.start >= f.end || f.end > size) std::abort();
    previousEnd = f.end;
    const auto stream = gif::FrameStream(bytes, *screen, f);
    if (stream.size() != screen->blocksStart + (f.end - f.start) + 1 || stream.back() != gif::kTrailer) std::abort();
    (void)gif::FrameWait(f.delay);
  }
  // What the picture control would hold for it stays within its budget:
  // all frames only when all of them fit, the first alone when it fits.
  switch (gif::FitInBudget(*screen, frames.size())) {
    case gif::Fit::kAnimation:
      if (frames.size() < 2 || gif::HeldBytes(*screen, frames.size()) > gif::kMemoryBudget) std::abort();
      break;
    case gif::Fit::kStill:
      if (frames.empty() || gif::HeldBytes(*screen, 1) > gif::kMemoryBudget) std::abort();
      if (frames.size() > 1 && gif::HeldBytes(*screen, frames.size()) <= gif::kMemoryBudget) std::abort();
      break;
    case gif::Fit::kNothing:
      if (!frames.empty() && gif::HeldBytes(*screen, 1) <= gif::kMemoryBudget) std::abort();
      break;
  }
  return 0;
}
