// The GIF splitter on GIFs made to measure: which frames it finds, what each
// one-frame stream holds, and that damaged data ends the scan cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "tests/ui/GifBuilder.h"
#include "ui/GifSplitter.h"

using giftest::Bytes;
using giftest::Frame;

namespace {

Bytes Slice(const Bytes& data, std::size_t from, std::size_t to) {
  return Bytes(data.begin() + static_cast<std::ptrdiff_t>(from), data.begin() + static_cast<std::ptrdiff_t>(to));
}

}  // namespace

TEST(GifSplitterTest, FramesWithTheirControlExtensionsAndStreams) {
  const Bytes data = giftest::MakeGif(
      4, 3,
      {Frame{0, 0, 4, 3, 1, 10, 0}, Frame{1, 1, 2, 1, 2, 25, 2, false, true}, Frame{3, 2, 1, 1, 3, std::nullopt}});
  const auto screen = gif::ReadScreen(data);
  ASSERT_TRUE(screen);
  EXPECT_EQ(screen->width, 4);
  EXPECT_EQ(screen->height, 3);
  EXPECT_EQ(screen->blocksStart, 13u + 12u);

  const auto frames = gif::SplitFrames(data, *screen);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].delay, 10);
  EXPECT_EQ(frames[0].disposal, 0);
  EXPECT_EQ(frames[1].delay, 25);
  EXPECT_EQ(frames[1].disposal, 2);
  ASSERT_TRUE(frames[1].rect);
  EXPECT_EQ(frames[1].rect->left, 1);
  EXPECT_EQ(frames[1].rect->top, 1);
  EXPECT_EQ(frames[1].rect->width, 2);
  EXPECT_EQ(frames[1].rect->height, 1);
  // Without a control extension: no delay, disposal 0, the frame is its image.
  EXPECT_FALSE(frames[2].delay);
  EXPECT_EQ(frames[2].disposal, 0);
  EXPECT_EQ(data[frames[2].start], 0x2C);
  EXPECT_EQ(frames[2].end, data.size() - 1);  // up to the trailer

  // A frame's stream: the header, its blocks from the control extension to
  // the end of the image (the comment between them included), the trailer.
  EXPECT_EQ(data[frames[1].start], 0x21);
  EXPECT_EQ(data[frames[1].start + 1], 0xF9);
  const Bytes stream = gif::FrameStream(data, *screen, frames[1]);
  Bytes expected = Slice(data, 0, screen->blocksStart);
  const Bytes body = Slice(data, frames[1].start, frames[1].end);
  expected.insert(expected.end(), body.begin(), body.end());
  expected.push_back(0x3B);
  EXPECT_EQ(stream, expected);
  const Bytes comment{0x21, 0xFE, 1, 'x', 0};
  EXPECT_NE(std::search(stream.begin(), stream.end(), comment.begin(), comment.end()), stream.end());
}

TEST(GifSplitterTest, DelaysBecomeWaits) {
  struct Case {
    std::optional<std::uint16_t> delay;
    int ms;
  };
  for (const Case c : {Case{std::nullopt, 100}, Case{0, 100}, Case{3, 100}, Case{4, 100}, Case{5, 50}, Case{10, 100},
                       Case{25, 250}, Case{65535, 655350}})
    EXPECT_EQ(gif::FrameWait(c.delay).count(), c.ms) << (c.delay ? *c.delay : -1);
}

TEST(GifSplitterTest, WhatEndsTheScan) {
  const Bytes two = giftest::MakeGif(2, 2, {Frame{}, Frame{1, 1}});
  const auto screen = *gif::ReadScreen(two);
  ASSERT_EQ(gif::SplitFrames(two, screen).size(), 2u);

  // An unknown block after the first frame: the first frame only.
  Bytes unknown = two;
  const auto first = gif::SplitFrames(two, screen)[0];
  unknown.insert(unknown.begin() + static_cast<std::ptrdiff_t>(first.end), 0x99);
  EXPECT_EQ(gif::SplitFrames(unknown, screen).size(), 1u);
  // So does an unknown extension label.
  Bytes label = two;
  label.insert(label.begin() + static_cast<std::ptrdiff_t>(first.end), {0x21, 0x77, 0x00});
  EXPECT_EQ(gif::SplitFrames(label, screen).size(), 1u);
  // A control extension with no image after it before the trailer is no frame.
  Bytes lonely = giftest::MakeGif(2, 2, {Frame{}});
  lonely.insert(lonely.end() - 1, {0x21, 0xF9, 4, 0, 10, 0, 0, 0});
  EXPECT_EQ(gif::SplitFrames(lonely, *gif::ReadScreen(lonely)).size(), 1u);
  // A plain-text extension renders: a frame without a rectangle.
  Bytes text = giftest::MakeGif(2, 2, {Frame{}});
  const Bytes plain{0x21, 0x01, 12, 0, 0, 0, 0, 2, 0, 2, 0, 1, 1, 0, 1, 2, 'h', 'i', 0};
  text.insert(text.end() - 1, plain.begin(), plain.end());
  const auto withText = gif::SplitFrames(text, *gif::ReadScreen(text));
  ASSERT_EQ(withText.size(), 2u);
  EXPECT_FALSE(withText[1].rect);
  EXPECT_EQ(withText[1].end - withText[1].start, plain.size());

  // A global colour table larger than the data: not a GIF to split.
  Bytes table = two;
  table[10] = 0x87;  // 256 colours announced, four there
  table.resize(100);
  EXPECT_FALSE(gif::ReadScreen(table));
  EXPECT_FALSE(gif::ReadScreen(Bytes{'G', 'I', 'F', '8', '9'}));
  EXPECT_FALSE(gif::ReadScreen(Bytes{'P', 'N', 'G', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(GifSplitterTest, TruncatedDataAtEveryOffsetEndsTheScanCleanly) {
  const Bytes whole = giftest::MakeGif(4, 4, {Frame{0, 0, 4, 4}, Frame{1, 1, 2, 2, 2, 5, 3, false, true}, Frame{}});
  std::size_t lastCount = 0;
  for (std::size_t n = 0; n <= whole.size(); ++n) {
    // A copy of exactly n bytes, so that a read past it is caught by the
    // address sanitizer too.
    const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    const auto screen = gif::ReadScreen(part);
    if (!screen) {
      EXPECT_LT(n, 13u + 12u) << n;
      continue;
    }
    const auto frames = gif::SplitFrames(part, *screen);
    for (const auto& f : frames) {
      EXPECT_LT(f.start, f.end) << n;
      EXPECT_LE(f.end, n) << n;
    }
    EXPECT_GE(frames.size(), lastCount) << n;  // more data never loses a frame
    lastCount = frames.size();
  }
  EXPECT_EQ(lastCount, 3u);
}

TEST(GifSplitterTest, ScreenAndFrameCountAreWeighedAgainstTheBudget) {
  struct Case {
    std::uint16_t width, height;
    std::size_t frames;
    gif::Fit fit;
  };
  const Case cases[] = {
      {48, 48, 8, gif::Fit::kAnimation},         // the effect picture
      {1024, 1024, 12, gif::Fit::kAnimation},    // 60 MiB with the canvas
      {1024, 1024, 13, gif::Fit::kStill},        // one frame more is over
      {2048, 2048, 30, gif::Fit::kStill},        // a screen of 16 MiB, held three times
      {2048, 2048, 1, gif::Fit::kStill},
      {4096, 4096, 2, gif::Fit::kNothing},       // one screen is the whole budget
      {1, 1, 100'000, gif::Fit::kStill},         // tiny frames, but a hundred thousand of them
      {65535, 65535, std::numeric_limits<std::size_t>::max(), gif::Fit::kNothing},  // no wrap-round
      {16, 16, 0, gif::Fit::kNothing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << ", " << c.frames << " frames");
    const gif::Screen screen{c.width, c.height, 13};
    EXPECT_EQ(gif::FitInBudget(screen, c.frames), c.fit);
    if (c.fit == gif::Fit::kAnimation) EXPECT_LE(gif::HeldBytes(screen, c.frames), gif::kMemoryBudget);
    if (c.fit == gif::Fit::kStill) EXPECT_LE(gif::HeldBytes(screen, 1), gif::kMemoryBudget);
  }
}
