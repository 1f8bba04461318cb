// The animated picture control: what loads as a still and what animates, the
// worker playing frames with their disposal methods, stopping and resuming,
// and loads that fail.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QCoreApplication>
#include <QImage>

#include <fstream>
#include <memory>
#include <string>

#include "tests/ui/GifBuilder.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/GifSplitter.h"
#include "ui/PictureEx.h"

using giftest::Bytes;
using giftest::Frame;

namespace {

const QColor kRed(255, 0, 0), kGreen(0, 255, 0), kBlue(0, 0, 255);

Bytes Png(int w, int h, QColor colour) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(colour);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, "PNG"));
  return Bytes(bytes.begin(), bytes.end());
}

// The process's resident memory at its peak since the peak was last reset
// (from /proc; 0 where there is none).
std::uint64_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  return 0;
}
// Starts the peak over at what is resident now, and returns that.
std::uint64_t PeakResidentBytesFromNow() {
  std::ofstream("/proc/self/clear_refs") << "5";
  return PeakResidentBytes();
}

class PictureExTest : public ::testing::Test {
 protected:
  std::unique_ptr<CPictureEx> pic = std::make_unique<CPictureEx>();

  // The canvas once exactly `n` frames have been drawn (each frame stays for
  // its delay, so the canvas holds still long enough to be read).
  QImage CanvasAfter(std::uint64_t n) {
    EXPECT_TRUE(uitest::PumpUntil([&] { return pic->FramesDrawn() >= n; })) << n;
    const QImage canvas = pic->Canvas();
    EXPECT_EQ(pic->FramesDrawn(), n) << "the canvas moved on while it was read";
    return canvas;
  }
};

}  // namespace

TEST_F(PictureExTest, StillPictures) {
  // A GIF with one image is still, at its logical screen size.
  ASSERT_TRUE(pic->LoadFromMemory(giftest::MakeGif(4, 3, {Frame{0, 0, 1, 1, 1}})));
  EXPECT_TRUE(pic->IsLoaded());
  EXPECT_TRUE(pic->IsGif());
  EXPECT_TRUE(pic->Frames().empty());
  EXPECT_EQ(pic->ImageSize(), QSize(4, 3));
  EXPECT_EQ(pic->size(), QSize(4, 3));
  EXPECT_TRUE(pic->Show());
  EXPECT_FALSE(pic->IsAnimating());
  EXPECT_TRUE(uitest::Near(pic->Canvas().pixel(0, 0), kRed));
  EXPECT_EQ(pic->BackColor(), QApplication::palette().color(QPalette::Button));

  // Any other picture the reader knows: still, at its natural size.
  ASSERT_TRUE(pic->LoadFromMemory(Png(7, 5, kGreen)));
  EXPECT_FALSE(pic->IsGif());
  EXPECT_EQ(pic->ImageSize(), QSize(7, 5));
  EXPECT_TRUE(pic->Show());
  EXPECT_TRUE(uitest::Near(pic->Canvas().pixel(6, 4), kGreen));
  // It paints what the canvas holds.
  EXPECT_TRUE(uitest::Near(uitest::Grab(pic.get()).pixel(3, 2), kGreen));
}

TEST_F(PictureExTest, LoadsThatFail) {
  // Frames that all fail to decode.
  const Bytes broken = giftest::MakeGif(2, 2, {Frame{0, 0, 1, 1, 1, 10, 0, true}, Frame{1, 1, 1, 1, 2, 10, 0, true}});
  EXPECT_FALSE(pic->LoadFromMemory(broken));
  EXPECT_FALSE(pic->IsLoaded());
  EXPECT_FALSE(pic->Show());
  // One good frame among broken ones is shown.
  const Bytes oneGood = giftest::MakeGif(2, 2, {Frame{0, 0, 1, 1, 1, 10, 0, true}, Frame{1, 1, 1, 1, 2}});
  ASSERT_TRUE(pic->LoadFromMemory(oneGood));
  EXPECT_EQ(pic->Frames().size(), 1u);
  EXPECT_TRUE(pic->Show());  // drawn as a still
  EXPECT_FALSE(pic->IsAnimating());
  EXPECT_TRUE(uitest::Near(pic->Canvas().pixel(1, 1), kGreen));

  EXPECT_FALSE(pic->LoadFromMemory(Bytes{'G', 'I', 'F', '8', '9', 'a', 2, 0}));  // ends in the header
  EXPECT_FALSE(pic->LoadFromMemory(giftest::MakeGif(2, 2, {})));                // no image at all
  EXPECT_FALSE(pic->LoadFromMemory(giftest::MakeGif(0, 0, {Frame{}, Frame{}}))); // nothing to draw on
  EXPECT_FALSE(pic->LoadFromMemory(Bytes{1, 2, 3, 4, 5}));
  EXPECT_FALSE(pic->LoadFromMemory(Bytes{}));
  EXPECT_FALSE(pic->IsLoaded());
  EXPECT_FALSE(pic->IsGif());
  EXPECT_FALSE(pic->LoadFromResource(QStringLiteral("188"), QStringLiteral("Gif")));
}

TEST_F(PictureExTest, AGifTooLargeForItsBudgetIsShownStillOrNotAtAll) {
  // 743 bytes: a 2048 x 2048 screen with thirty 1 x 1 frames. Each frame
  // decodes to the whole screen, 16 MiB; all of them would take half a
  // gigabyte.
  std::vector<Frame> frames(30, Frame{0, 0, 1, 1, 1});
  const Bytes large = giftest::MakeGif(2048, 2048, frames);
  ASSERT_EQ(large.size(), 743u);
  const std::uint64_t before = PeakResidentBytesFromNow();
  ASSERT_TRUE(pic->LoadFromMemory(large));
  EXPECT_TRUE(pic->Show());  // drawn at once: a still
  const std::uint64_t peak = PeakResidentBytes();
  EXPECT_LE(peak - before, gif::kMemoryBudget) << "peak " << (peak >> 20) << " MiB, before " << (before >> 20);
  EXPECT_FALSE(pic->IsAnimating());
  EXPECT_TRUE(pic->Frames().empty());
  EXPECT_EQ(pic->ImageSize(), QSize(2048, 2048));
  EXPECT_TRUE(uitest::Near(pic->Canvas().pixel(0, 0), kRed));  // the first frame
  EXPECT_TRUE(pic->Note().contains(QStringLiteral("only its first frame is shown"))) << pic->Note().toStdString();
  EXPECT_EQ(pic->toolTip(), pic->Note());

  // A screen that not even one frame fits is not shown, and says so.
  EXPECT_FALSE(pic->LoadFromMemory(giftest::MakeGif(8192, 8192, {Frame{}, Frame{}})));
  EXPECT_FALSE(pic->IsLoaded());
  EXPECT_TRUE(pic->Note().contains(QStringLiteral("it is not shown"))) << pic->Note().toStdString();

  // The next picture that fits has no note.
  ASSERT_TRUE(pic->LoadFromMemory(giftest::MakeGif(2, 2, {Frame{}, Frame{}})));
  EXPECT_TRUE(pic->Note().isEmpty());
  EXPECT_TRUE(pic->toolTip().isEmpty());
}

TEST_F(PictureExTest, TheWorkerPlaysFramesWithTheirDisposalAndLoops) {
  // 2 x 2: a red frame over everything; green at (1,1) that is taken back
  // (disposal 3); blue at (0,0) that is cleared away (disposal 2); blue at
  // (1,0). 300 ms each.
  ASSERT_TRUE(pic->LoadFromMemory(giftest::MakeGif(
      2, 2, {Frame{0, 0, 2, 2, 1, 30, 0}, Frame{1, 1, 1, 1, 2, 30, 3}, Frame{0, 0, 1, 1, 3, 30, 2}, Frame{1, 0, 1, 1, 3, 30, 0}})));
  ASSERT_EQ(pic->Frames().size(), 4u);
  EXPECT_EQ(pic->Frames()[1].rect, QRect(1, 1, 1, 1));
  EXPECT_FALSE(pic->Show());  // nothing drawn yet: the worker draws
  const QColor back = pic->BackColor();

  struct Expect {
    std::uint64_t drawn;
    QColor at00, at10, at01, at11;
  };
  for (const Expect& e : {Expect{1, kRed, kRed, kRed, kRed}, Expect{2, kRed, kRed, kRed, kGreen},
                          Expect{3, kBlue, kRed, kRed, kRed}, Expect{4, back, kBlue, kRed, kRed},
                          Expect{5, kRed, kRed, kRed, kRed}}) {
    const QImage c = CanvasAfter(e.drawn);
    EXPECT_TRUE(pic->IsAnimating());
    EXPECT_TRUE(uitest::Near(c.pixel(0, 0), e.at00)) << e.drawn << " " << uitest::Describe(c.pixel(0, 0));
    EXPECT_TRUE(uitest::Near(c.pixel(1, 0), e.at10)) << e.drawn << " " << uitest::Describe(c.pixel(1, 0));
    EXPECT_TRUE(uitest::Near(c.pixel(0, 1), e.at01)) << e.drawn << " " << uitest::Describe(c.pixel(0, 1));
    EXPECT_TRUE(uitest::Near(c.pixel(1, 1), e.at11)) << e.drawn << " " << uitest::Describe(c.pixel(1, 1));
  }
  EXPECT_EQ(pic->CurrentFrame(), 0);  // round again
}

TEST_F(PictureExTest, StopWakesTheWorkerAndShowResumesWhereItStopped) {
  // Frames that would stay for ten minutes: only the stop event ends a wait.
  ASSERT_TRUE(pic->LoadFromMemory(giftest::MakeGif(2, 2, {Frame{0, 0, 2, 2, 1, 60000}, Frame{0, 0, 2, 2, 2, 60000}})));
  pic->Show();
  ASSERT_TRUE(uitest::PumpUntil([&] { return pic->FramesDrawn() == 1; }));
  pic->StopAnimation();
  EXPECT_FALSE(pic->IsAnimating());
  EXPECT_EQ(pic->CurrentFrame(), 0);

  pic->Show();
  ASSERT_TRUE(uitest::PumpUntil([&] { return pic->FramesDrawn() == 2; }));
  EXPECT_EQ(pic->CurrentFrame(), 0);  // the same frame again
  EXPECT_TRUE(pic->IsAnimating());
  pic->Show();  // a second Show while it runs starts nothing more
  EXPECT_TRUE(pic->IsAnimating());

  pic->Clear();
  EXPECT_FALSE(pic->IsAnimating());
  EXPECT_FALSE(pic->IsLoaded());
  EXPECT_TRUE(pic->Frames().empty());
  EXPECT_EQ(pic->ImageSize(), QSize(0, 0));
  EXPECT_EQ(pic->BackColor(), QColor(Qt::white));
  EXPECT_TRUE(pic->Canvas().isNull());

  // Going away while it animates stops the worker first.
  ASSERT_TRUE(pic->LoadFromMemory(giftest::MakeGif(2, 2, {Frame{0, 0, 2, 2, 1, 60000}, Frame{}})));
  pic->Show();
  ASSERT_TRUE(uitest::PumpUntil([&] { return pic->IsAnimating(); }));
  pic.reset();
  QCoreApplication::processEvents();  // the repaint it posted goes nowhere
}
