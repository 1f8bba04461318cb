// From the dial to the chip: how long a new g_currentBrightness takes to reach
// the simulated chip's brightness register. A value after a quiet spell goes
// out at once (the link's own time); one within 100 ms of the last write
// waits for the LED board page's tick at the end of those 100 ms. Every run
// starts at a random moment, so that the ticks fall anywhere relative to it.
//
//   build/default/tests/bench/dial_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "pages/BoardGlobals.h"
#include "sim/SimBoard.h"
#include "tests/bench/BenchProgram.h"

namespace {

using bench::Program;
using bench::Running;

// A person's pause: at least a tick of quiet since the last change, then a
// random 0..100 ms, with the event loop running (the LED board page's tick
// keeps its pace meanwhile, so the change meets it at any phase).
void RandomPhase() {
  static std::mt19937 random{std::random_device{}()};
  const int ms = 100 + std::uniform_int_distribution<int>(0, 100)(random);
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

// Runs the event loop until the chip's LED 0 shows `value`; the time it took.
double MillisecondsUntil(sim::SimBoard& board, std::uint8_t value, QElapsedTimer& since) {
  while (board.Register(0x20) != value) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    if (since.elapsed() > 5000) return -1;
  }
  return since.nsecsElapsed() / 1e6;
}

void Report(benchmark::State& state, std::vector<double> ms, int lost) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  const double median = ms[ms.size() / 2];
  state.counters["median_ms"] = median;
  state.counters["p90_ms"] = ms[ms.size() * 9 / 10];
  state.counters["max_ms"] = ms.back();
  state.counters["min_ms"] = ms.front();
  state.counters["median_over_110ms"] = median / 110.0;
  state.counters["max_over_110ms"] = ms.back() / 110.0;
  state.counters["lost"] = lost;
}

// One dial change at a time, each waited for.
void BM_DialToChip(benchmark::State& state) {
  Program& p = Running();
  std::vector<double> ms;
  int lost = 0;
  std::uint8_t value = 0;
  for (auto _ : state) {
    value = static_cast<std::uint8_t>(value == 200 ? 10 : value + 19);
    RandomPhase();
    QElapsedTimer since;
    since.start();
    g_currentBrightness = value;
    const double t = MillisecondsUntil(*p.board, value, since);
    if (t < 0) ++lost;
    else ms.push_back(t);
    state.SetIterationTime(std::max(t, 0.0) / 1000.0);
  }
  Report(state, ms, lost);
}
BENCHMARK(BM_DialToChip)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

// The dial moving faster than the ticks: ten new values 3 ms apart. Values in
// between may be skipped; the last one must always arrive.
void BM_FastDialLastValueArrives(benchmark::State& state) {
  Program& p = Running();
  std::vector<double> ms;
  int lost = 0;
  std::uint8_t value = 0;
  for (auto _ : state) {
    RandomPhase();
    QElapsedTimer since;
    for (int i = 0; i < 10; ++i) {
      value = static_cast<std::uint8_t>(value == 250 ? 1 : value + 1);
      since.start();
      g_currentBrightness = value;
      QElapsedTimer gap;
      gap.start();
      while (gap.elapsed() < 3) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    const double t = MillisecondsUntil(*p.board, value, since);
    if (t < 0) ++lost;
    else ms.push_back(t);
    // Nothing may come after the last value and overwrite it.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 150) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (p.board->Register(0x20) != value) ++lost;
    state.SetIterationTime(std::max(t, 0.0) / 1000.0);
  }
  Report(state, ms, lost);
}
BENCHMARK(BM_FastDialLastValueArrives)->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return bench::RunWithProgram(argc, argv); }
