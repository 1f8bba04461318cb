// The walker on a fixed set of seeds: each plays a sequence of random user
// actions on the real window and the simulated board (see GuiWalker.h).
#include <gtest/gtest.h>

#include "tests/app/GuiWalker.h"

namespace {

void WalkSeeds(std::initializer_list<std::uint32_t> seeds) {
  for (std::uint32_t seed : seeds) {
    const walk::Result r = walk::WalkSeed(seed);
    EXPECT_TRUE(r.held) << walk::Describe(r);
  }
}

// The seeds cover every board (the board follows the seed).
TEST(GuiWalk, SeedsOneToFour) { WalkSeeds({1, 2, 3, 4}); }
TEST(GuiWalk, SeedsFiveToEight) { WalkSeeds({5, 6, 7, 8}); }
TEST(GuiWalk, SeedsNineToTwelve) { WalkSeeds({9, 10, 11, 12}); }

}  // namespace
