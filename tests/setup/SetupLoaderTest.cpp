// Loading a setup: one write at a time, each after the board confirmed the
// one before; the first one not confirmed stops the rest and is named.
#include <gtest/gtest.h>

#include "chip/ChipAccess.h"
#include "setup/SetupLoader.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class RecordingPort : public chip::RegisterPort {
 public:
  int Write(std::uint8_t reg, std::span<const std::uint8_t> data) override {
    sent.emplace_back(reg, Bytes(data.begin(), data.end()));
    return refuse ? 0 : 1;
  }
  int Read(std::uint8_t, std::uint8_t) override { return 0; }
  std::vector<std::pair<int, Bytes>> sent;
  bool refuse = false;
};

Bytes Ack(std::uint8_t reg, Bytes data) {
  Bytes p{1, 0x5B, reg, static_cast<std::uint8_t>(data.size()), 4, 0};
  p.insert(p.end(), data.begin(), data.end());
  return p;
}

std::vector<setup::RegisterWrite> ThreeWrites() {
  return {{0x12, {0, 0}, "pins drive LEDs"}, {0x14, {0}, "effects stopped"}, {0x11, {0x11}, "maximum current 25 mA"}};
}

TEST(SetupLoaderTest, EachWriteWaitsForTheOneBefore) {
  RecordingPort port;
  setup::SetupLoader loader(port);
  ASSERT_TRUE(loader.Start(ThreeWrites()));
  EXPECT_EQ(port.sent.size(), 1u);
  // Someone else's acknowledgement moves nothing.
  EXPECT_EQ(loader.OnWriteAcknowledged(Ack(0x20, {1})), setup::SetupLoader::Outcome::kIgnored);
  EXPECT_EQ(loader.OnWriteAcknowledged(Ack(0x12, {0, 0})), setup::SetupLoader::Outcome::kNextStep);
  EXPECT_EQ(loader.OnWriteAcknowledged(Ack(0x14, {0})), setup::SetupLoader::Outcome::kNextStep);
  EXPECT_EQ(loader.OnWriteAcknowledged(Bytes{1, 0x5B, 0x11}), setup::SetupLoader::Outcome::kIgnored);  // cut short
  EXPECT_EQ(loader.OnWriteAcknowledged(Ack(0x11, {0x11})), setup::SetupLoader::Outcome::kFinished);
  EXPECT_EQ(port.sent, (std::vector<std::pair<int, Bytes>>{{0x12, {0, 0}}, {0x14, {0}}, {0x11, {0x11}}}));
  EXPECT_TRUE(loader.Finished());
  EXPECT_FALSE(loader.StoppedAt());
}

TEST(SetupLoaderTest, TheFirstStepNotConfirmedStopsTheRestAndIsNamed) {
  RecordingPort port;
  setup::SetupLoader loader(port);
  ASSERT_TRUE(loader.Start(ThreeWrites()));
  loader.OnWriteAcknowledged(Ack(0x12, {0, 0}));
  // The board refused the second write (or it timed out): the window ends
  // every wait and names it.
  const auto ended = chip::EndReplyWaits();
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0], "setup: step 2 of 3 (0x14 <- 0x00, effects stopped)");
  EXPECT_EQ(loader.StoppedAt(), 1u);
  // Its acknowledgement coming late is someone else's now.
  EXPECT_EQ(loader.OnWriteAcknowledged(Ack(0x14, {0})), setup::SetupLoader::Outcome::kIgnored);
  EXPECT_EQ(port.sent.size(), 2u);

  // Without an identified board nothing goes out at all.
  port.refuse = true;
  port.sent.clear();
  EXPECT_FALSE(loader.Start(ThreeWrites()));
  EXPECT_EQ(loader.StoppedAt(), 0u);
  EXPECT_EQ(port.sent.size(), 1u);
}

}  // namespace
