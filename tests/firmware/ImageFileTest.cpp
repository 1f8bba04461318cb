// Image files: the checksum, every rejection the update window shows, and the
// buffer the worker later cuts its blocks from.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <optional>

#include "firmware/BootRecord.h"
#include "firmware/ImageFile.h"
#include "link/LinkHost.h"
#include "platform/MessageBox.h"
#include "platform/Messages.h"

using namespace std::chrono_literals;

namespace {

std::string Hex8(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint8_t seed = 0) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + seed);
  return v;
}

class ImageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("corvel-image-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    platform::SetMessageBoxHook([this](const std::string& text, const std::string&, platform::MessageIcon,
                                       platform::MessageButtons) {
      boxes.push_back(text);
      return platform::MessageResult::Ok;
    });
    corvel::SetBootDialogHandle(window.handle());
    buffer = std::make_unique<ImageBuffer>();
  }
  void TearDown() override {
    corvel::SetBootDialogHandle(platform::kNoHandle);
    platform::SetMessageBoxHook({});
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  std::filesystem::path Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const auto path = dir / name;
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  std::vector<std::uintptr_t> PostedStatuses() {
    std::vector<std::uintptr_t> codes;
    for (const auto& m : window->Drain())
      if (m.id == platform::kMsgBootStatus) codes.push_back(m.wParam);
    return codes;
  }

  std::filesystem::path dir;
  platform::ScopedQueueTarget window;
  std::vector<std::string> boxes;
  std::unique_ptr<ImageBuffer> buffer;
};

}  // namespace

TEST(ImageChecksumTest, WeightsEachByteByItsPositionAndKeepsAll32Bits) {
  std::vector<std::uint8_t> ramp(kImageMaxDataLength);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::uint8_t>(i);
  const struct {
    const char* name;
    std::vector<std::uint8_t> data;
    std::uint32_t expected;
  } cases[] = {
      {"no data", {}, 0xFFFFFFFFu},
      {"01 02 03", {1, 2, 3}, 0xFFFFFFF1u},
      {"1000 x FF: both folds carry", std::vector<std::uint8_t>(1000, 0xFF), 0xF8647FDDu},
      {"6000 x FF: the weighted sum passes 2^32", std::vector<std::uint8_t>(6000, 0xFF), 0xEE5E58F5u},
      {"largest image, a ramp", ramp, 0x7888F113u},
  };
  for (const auto& c : cases) EXPECT_EQ(ComputeImageChecksum(c.data), c.expected) << c.name;
}

TEST_F(ImageFileTest, RejectionsShowTheirTextAndOnlyUnreadableFilesPostStatusNine) {
  const auto valid = [](std::size_t n) { return BuildImageFile(Pattern(n), 0x11223344); };
  auto wrongLength = valid(40);
  wrongLength[40] ^= 1;  // N word says 41
  auto wrongChecksum = valid(40);
  wrongChecksum[43 + 8] ^= 0x80;
  auto flippedData = valid(40);
  flippedData[5] ^= 1;
  auto shortByOne = valid(40);
  shortByOne.pop_back();  // the trailer no longer sits at L - 12

  // A damaged file's box keeps its short text and adds which check failed
  // (corvelctl prints the same box).
  const std::string dataError = std::string(kTextImageDataError) + " ";
  const struct {
    const char* name;
    std::optional<std::vector<std::uint8_t>> content;  // nullopt: no such file
    std::string box;
    bool status9;
  } cases[] = {
      {"missing", std::nullopt, kTextImageOpenFailed, true},
      {"one past capacity", std::vector<std::uint8_t>(kImageCapacity + 1, 0xFF), kTextImageTooLong, true},
      {"empty", std::vector<std::uint8_t>{}, kTextImageEmpty, true},
      {"one byte", std::vector<std::uint8_t>{0x00}, dataError + "The file is 1 byte long, shorter than the 12-byte "
                                                                "trailer every image ends with.", false},
      {"eleven bytes", std::vector<std::uint8_t>(11, 0x00),
       dataError + "The file is 11 bytes long, shorter than the 12-byte trailer every image ends with.", false},
      {"length word not L - 12", wrongLength,
       dataError + "Its trailer gives the data length as 41 bytes, but 40 bytes come before the trailer: the file is "
                   "cut short, too long, or not an image.", false},
      {"trailer moved by a lost byte", shortByOne,
       dataError + "Its trailer gives the data length as 10257 bytes, but 39 bytes come before the trailer: the file "
                   "is cut short, too long, or not an image.", false},
      {"checksum word wrong", wrongChecksum,
       dataError + "The checksum of its 40 bytes of data is " + Hex8(ComputeImageChecksum(Pattern(40))) +
           ", but its trailer says " + Hex8(ComputeImageChecksum(Pattern(40)) ^ 0x80000000u) + ": the data is damaged.",
       false},
      {"data byte changed", flippedData,
       dataError + "The checksum of its 40 bytes of data is " + Hex8(ComputeImageChecksum(std::span(flippedData).first(40))) +
           ", but its trailer says " + Hex8(ComputeImageChecksum(Pattern(40))) + ": the data is damaged.", false},
  };
  for (const auto& c : cases) {
    boxes.clear();
    const auto path = c.content ? Write("case.qvbin", *c.content) : dir / "nothing-here.qvbin";
    std::uint32_t checkWord = 0xDEADBEEF;
    EXPECT_EQ(CheckImageFile(path, *buffer, &checkWord), 0u) << c.name;
    EXPECT_EQ(checkWord, 0xDEADBEEFu) << c.name << ": a rejected file leaves the check word alone";
    EXPECT_EQ(boxes, std::vector<std::string>{c.box}) << c.name;
    EXPECT_EQ(PostedStatuses(), c.status9 ? std::vector<std::uintptr_t>{kBootStatusImageRejected}
                                          : std::vector<std::uintptr_t>{})
        << c.name;
    std::filesystem::remove(dir / "case.qvbin");
  }

  // A folder is not a file that can be opened as an image.
  boxes.clear();
  EXPECT_EQ(CheckImageFile(dir, *buffer, nullptr), 0u);
  EXPECT_EQ(boxes, std::vector<std::string>{kTextImageOpenFailed});
}

TEST_F(ImageFileTest, FileOfExactlyTheCapacityIsAccepted) {
  const auto data = Pattern(kImageMaxDataLength, 3);
  const auto path = Write("full.qvbin", BuildImageFile(data, 0xCAFEF00D));
  ASSERT_EQ(std::filesystem::file_size(path), 1966092u);
  std::uint32_t checkWord = 0;
  EXPECT_EQ(CheckImageFile(path, *buffer, &checkWord), kImageMaxDataLength);
  EXPECT_EQ(checkWord, 0xCAFEF00Du);
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(PostedStatuses().empty());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer->begin()));
}

TEST_F(ImageFileTest, EveryLoadStartsFromABlankBuffer) {
  // A long image first, then a short one: nothing of the first may show
  // through past the second's end, because the last block is cut from there.
  ASSERT_EQ(CheckImageFile(Write("long.qvbin", BuildImageFile(Pattern(500, 1), 7)), *buffer, nullptr), 500u);
  const auto shortFile = BuildImageFile(Pattern(33, 2), 9);
  std::uint32_t checkWord = 0;
  ASSERT_EQ(CheckImageFile(Write("short.qvbin", shortFile), *buffer, &checkWord), 33u);
  EXPECT_EQ(checkWord, 9u);
  EXPECT_TRUE(std::equal(shortFile.begin(), shortFile.end(), buffer->begin()));
  EXPECT_TRUE(std::all_of(buffer->begin() + static_cast<std::ptrdiff_t>(shortFile.size()), buffer->end(),
                          [](std::uint8_t b) { return b == 0xFF; }));

  // A rejected load leaves no earlier image behind either.
  ASSERT_EQ(CheckImageFile(Write("bad.qvbin", {1, 2, 3}), *buffer, nullptr), 0u);
  EXPECT_EQ((*buffer)[3], 0xFF);
  EXPECT_EQ((*buffer)[40], 0xFF);
}

TEST_F(ImageFileTest, ImageWithoutDataPassesTheChecksButIsNotOffered) {
  const auto file = BuildImageFile({}, 0x55);
  ASSERT_EQ(file, (std::vector<std::uint8_t>{0, 0, 0, 0, 0x55, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(CheckImageFile(Write("none.qvbin", file), *buffer, nullptr), 0u);
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(PostedStatuses().empty());
}

TEST(ImageWriterTest, TrailerIsLengthCheckWordAndChecksumLittleEndian) {
  const std::vector<std::uint8_t> data = {1, 2, 3};
  EXPECT_EQ(BuildImageFile(data, 0x0A0B0C0D),
            (std::vector<std::uint8_t>{1, 2, 3, 3, 0, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A, 0xF1, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(BuildImageFile(std::vector<std::uint8_t>(kImageMaxDataLength), 0).size(), kImageCapacity);
  EXPECT_TRUE(BuildImageFile(std::vector<std::uint8_t>(kImageMaxDataLength + 1), 0).empty());
}
