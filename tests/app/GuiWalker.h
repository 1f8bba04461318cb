// The walker: the real window, started as main starts it, on the simulated
// board, played by seeded random sequences of what a person can do on the LED
// board page and its sub-pages. After each action, once the window is idle,
// it checks that every control's claim about the chip holds (the simulated
// chip is the judge), that the board carried no register write outside what
// the action may write, and that every wait ended within its bound. A failing
// sequence is shrunk: actions are dropped while it still fails.
//
// Each sequence runs in a child process of its own (a fresh program and a
// fresh chip), so that one sequence cannot leave anything to the next.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace walk {

struct Options {
  int actions = 25;     // per sequence
  bool shrink = true;   // on a failure, look for a shorter sequence that fails
  int maxShrinkRuns = 40;
};

struct Result {
  bool held = true;
  std::uint32_t seed = 0;
  int boardId = 0;
  int played = 0;          // actions played
  std::string failure;     // what failed, naming the action and the frame
  std::string sequence;    // the failing sequence (shrunk), one action a line
  std::map<std::string, int> kinds;  // how often each kind of action was played
};

Result WalkSeed(std::uint32_t seed, const Options& options = {});

// The seed's result as a person reads it.
std::string Describe(const Result& result);

}  // namespace walk
