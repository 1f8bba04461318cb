// Register writes through the library on a simulated board, timed: the C++
// side of the comparison tests/bench/python_bench.py makes (the same loop
// from Python, and corvelctl batch).
//   build/default/tests/bench/corvel_write_bench --writes 1000
#include <CLI/CLI.hpp>

#include <array>
#include <chrono>
#include <cstdio>

#include "corvel/Board.h"

int main(int argc, char** argv) {
  CLI::App app{"Times register writes through the corvel library on a simulated lamp board."};
  int writes = 1000;
  int board = 1;
  int latency = 1;
  app.add_option("--writes", writes, "register writes to time")->check(CLI::Range(1, 1000000));
  app.add_option("--sim", board, "the simulated board's id")->check(CLI::IsMember({0, 1, 3, 5, 128}));
  app.add_option("--sim-latency", latency, "the simulated board's delay per report, ms")->check(CLI::Range(0, 100));
  CLI11_PARSE(app, argc, argv);

  try {
    corvel::OpenOptions options;
    options.sim = {static_cast<std::uint8_t>(board)};
    options.simFaults.reportLatency = std::chrono::milliseconds(latency);
    corvel::Board lamp(options);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < writes; ++i) lamp.WriteRegisters(0x20, std::array{static_cast<std::uint8_t>(i)});
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("{\"writes\": %d, \"seconds\": %.4f}\n", writes, took.count());
    return 0;
  } catch (const corvel::Error& e) {
    std::fprintf(stderr, "corvel_write_bench: %s\n", e.what());
    return 1;
  }
}
