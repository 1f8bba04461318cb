#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/Crc16.h"
#include "link/QVProtocol.h"
#include "platform/MessageBox.h"

namespace {
std::uint16_t Crc(const std::string& s, std::uint16_t start = 0) {
  return CCRC16::Update(start, reinterpret_cast<const std::uint8_t*>(s.data()),
                        static_cast<std::uint32_t>(s.size()));
}
}  // namespace

TEST(Crc16, CheckValues) {
  EXPECT_EQ(Crc("123456789"), 0xBB3D);
  EXPECT_EQ(Crc("abc"), 0x9738);
  EXPECT_EQ(Crc(""), 0x0000);
  EXPECT_EQ(Crc("", 0x1234), 0x1234);
  // Continuing from a partial result equals one pass over the whole.
  EXPECT_EQ(Crc("6789", Crc("12345")), 0xBB3D);
}

TEST(Crc16, SelectorComputesNothingUntilCrc16IsChosen) {
  std::vector<std::string> boxes;
  platform::SetMessageBoxHook([&](const std::string& text, auto&&...) {
    boxes.push_back(text);
    return platform::MessageResult::Ok;
  });
  const std::uint8_t data[] = {'a', 'b', 'c'};
  CALGORITHM algorithm;
  EXPECT_EQ(algorithm.Calculate(data, 3), 0);  // nothing selected yet
  EXPECT_EQ(CCRC16::InstanceCount(), 0);

  algorithm.SelectAlgorithm(kChecksumCrc16);
  algorithm.SelectAlgorithm(kChecksumCrc16);
  EXPECT_EQ(CCRC16::InstanceCount(), 1);
  EXPECT_EQ(algorithm.Calculate(data, 3), 0x9738);
  EXPECT_TRUE(boxes.empty());

  const struct {
    std::uint32_t number;
    const char* box;
  } unsupported[] = {
      {kChecksumCrc8, "CRC8 algorithm is not support!"},
      {kChecksumCrc32, "CRC32 algorithm is not support!"},
      {kChecksumParity, "Parity algorithm is not support!"},
      {kChecksumSum, "Sum algorithm is not support!"},
      {7, nullptr},
  };
  for (const auto& c : unsupported) {
    boxes.clear();
    algorithm.SelectAlgorithm(c.number);
    if (c.box) {
      EXPECT_EQ(boxes, std::vector<std::string>{c.box}) << c.number;
    } else {
      EXPECT_TRUE(boxes.empty()) << c.number;
    }
    EXPECT_EQ(algorithm.Calculate(data, 3), 0) << c.number;
  }
  platform::SetMessageBoxHook({});
}

TEST(Crc16, ProtocolObjectUsesCrc16OnlyAfterUseCrc16) {
  CQVProtocol protocol;
  const std::uint8_t data[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(protocol.ChecksumAlgorithm(), 0u);
  protocol.UseCrc16();
  EXPECT_EQ(protocol.ComputeChecksum(data, 9), 0xBB3D);
}
