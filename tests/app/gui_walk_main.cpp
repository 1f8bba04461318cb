// gui_walk: the walker as a command, for long runs.
//   gui_walk --first-seed S --seeds N [--actions A] [--no-shrink]
// Plays N sequences from seed S, headless; prints each failure with its seed
// and shortest failing sequence, then a summary. Exit status 0 only when
// every sequence held.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "tests/app/GuiWalker.h"

int main(int argc, char** argv) {
  std::uint32_t first = 1;
  std::uint32_t count = 10;
  walk::Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--first-seed" && hasValue) first = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 0));
    else if (arg == "--seeds" && hasValue) count = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 0));
    else if (arg == "--actions" && hasValue) options.actions = std::atoi(argv[++i]);
    else if (arg == "--no-shrink") options.shrink = false;
    else {
      std::fprintf(stderr, "usage: gui_walk --first-seed S --seeds N [--actions A] [--no-shrink]\n");
      return 2;
    }
  }
  // Headless unless told otherwise.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::uint64_t actions = 0;
  std::map<std::string, int> kinds;
  std::uint32_t failures = 0;
  for (std::uint32_t seed = first; seed < first + count; ++seed) {
    const walk::Result r = walk::WalkSeed(seed, options);
    actions += static_cast<std::uint64_t>(r.played);
    for (const auto& [kind, n] : r.kinds) kinds[kind] += n;
    if (!r.held) {
      ++failures;
      std::printf("%s\n", walk::Describe(r).c_str());
    }
    std::fflush(stdout);
  }
  if (std::getenv("GUI_WALK_KINDS"))
    for (const auto& [kind, n] : kinds) std::printf("%6d  %s\n", n, kind.c_str());
  std::printf("%u sequences, %llu actions, %u failed\n", count, static_cast<unsigned long long>(actions), failures);
  return failures == 0 ? 0 : 1;
}
