// The simulated board's knobs as a person types them.
#include <gtest/gtest.h>

#include "sim/SimKnobs.h"

namespace {

TEST(SimKnobsTest, FaultSpecsSetPercentOfFramesInBothDirections) {
  struct Case {
    const char* spec;
    std::uint32_t drop, corrupt, nak;
  };
  for (const Case& c : {Case{"drop=2,corrupt=2", 20000, 20000, 0}, Case{"nak=0.5", 0, 0, 5000},
                        Case{"corrupt=100,drop=0,nak=1", 0, 1'000'000, 10000}, Case{"drop=.25", 2500, 0, 0}}) {
    sim::SimFaults f = sim::RealisticTiming();
    std::string error;
    ASSERT_TRUE(sim::ParseFaultSpec(c.spec, f, error)) << c.spec << ": " << error;
    EXPECT_EQ(f.dropToHostPpm, c.drop) << c.spec;
    EXPECT_EQ(f.dropFromHostPpm, c.drop) << c.spec;
    EXPECT_EQ(f.corruptToHostPpm, c.corrupt) << c.spec;
    EXPECT_EQ(f.corruptFromHostPpm, c.corrupt) << c.spec;
    EXPECT_EQ(f.nakFromHostPpm, c.nak) << c.spec;
    EXPECT_EQ(f.reportLatency, sim::kRealisticReportLatency) << "the timing stays";
  }
  for (const char* bad : {"", "drop", "drop=", "drop=-1", "drop=+1", "drop=101", "drop=2,", "lose=2", "drop=2x",
                          "drop=nan", "drop=1e1"}) {
    sim::SimFaults f;
    std::string error;
    EXPECT_FALSE(sim::ParseFaultSpec(bad, f, error)) << bad;
    EXPECT_NE(error.find("--sim-faults"), std::string::npos) << bad;
    EXPECT_EQ(f.dropToHostPpm, 0u) << "nothing set by a spec that is refused: " << bad;
  }
}

TEST(SimKnobsTest, LatencyInMilliseconds) {
  sim::SimFaults f;
  std::string error;
  ASSERT_TRUE(sim::ParseLatency("2.5", f, error));
  EXPECT_EQ(f.reportLatency, std::chrono::microseconds(2500));
  ASSERT_TRUE(sim::ParseLatency("0", f, error));
  EXPECT_EQ(f.reportLatency.count(), 0);
  for (const char* bad : {"", "-1", "1001", "fast", "1ms"}) EXPECT_FALSE(sim::ParseLatency(bad, f, error)) << bad;
}

TEST(SimKnobsTest, ChipAddressIsOneTheAddressPinsCanSet) {
  std::string error;
  for (const auto& [text, address] : {std::pair{"0x58", 0x58}, std::pair{"0X5b", 0x5B}, std::pair{"89", 0x59}}) {
    sim::SimConfig config;
    ASSERT_TRUE(sim::ParseChipAddress(text, config, error)) << text << ": " << error;
    EXPECT_EQ(config.chipAddress, address) << text;
  }
  for (const char* bad : {"", "0x", "0x57", "0x5C", "-88", "0x5B ", "5B", "0x1005B"}) {
    sim::SimConfig config;
    EXPECT_FALSE(sim::ParseChipAddress(bad, config, error)) << bad;
    EXPECT_NE(error.find("--sim-chip-address"), std::string::npos) << bad;
    EXPECT_EQ(config.chipAddress, 0x5B) << "nothing set by an address that is refused: " << bad;
  }
}

}  // namespace
