// One register write at a time, as `corvelctl batch` runs them, on the
// simulated board with the real 1 ms per report: the time per write, and
// where it goes. Each write is four reports (our frame, the board's ACK, its
// answer, our ACK); the next write's frame follows our ACK and the pause
// after it. The timeline gives, per step, the median time from our frame's
// write to each later report and to the next frame.
//
//   build/default/tests/bench/register_step_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "corvel/Session.h"
#include "link/MUSBHid.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void BM_RegisterWriteSteps(benchmark::State& state) {
  constexpr int kWrites = 1000;
  SessionOptions options;
  options.sim = true;
  Session session(options);
  std::string error;
  BoardInfo info;
  if (!session.Identify(info, error)) return state.SkipWithError(error.c_str());

  // Every report with its time: out or in, data frame or ACK.
  struct Seen {
    Clock::time_point at;
    bool out;
    bool ack;
  };
  std::mutex mutex;
  std::vector<Seen> seen;
  seen.reserve(kWrites * 4 + 16);
  session.Communication().Hid()->SetReportTap([&](bool out, const std::uint8_t* r, std::size_t n) {
    if (n < 9) return;
    std::lock_guard lock(mutex);
    seen.push_back({Clock::now(), out, (r[8] & 0xF0) == 0x10});  // report id, then the frame
  });

  double total = 0;
  for (auto _ : state) {
    {
      std::lock_guard lock(mutex);
      seen.clear();
    }
    const auto start = Clock::now();
    for (int i = 0; i < kWrites; ++i) {
      const std::array value{static_cast<std::uint8_t>(i)};
      if (!session.WriteRegisters(0x20, value, error)) return state.SkipWithError(error.c_str());
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    total += ms;
    state.SetIterationTime(ms / 1000.0);
  }
  session.Communication().Hid()->SetReportTap({});

  // Steps: from each frame of ours to the reports after it.
  std::vector<double> boardAck, answer, ourAck, nextFrame;
  std::lock_guard lock(mutex);
  for (std::size_t i = 0; i + 4 < seen.size(); ++i) {
    const Seen* s = &seen[i];
    if (!s[0].out || s[0].ack || s[1].out || !s[1].ack || s[2].out || s[2].ack || !s[3].out || !s[3].ack ||
        !s[4].out || s[4].ack)
      continue;
    const auto since = [&](int k) { return std::chrono::duration<double, std::milli>(s[k].at - s[0].at).count(); };
    boardAck.push_back(since(1));
    answer.push_back(since(2));
    ourAck.push_back(since(3));
    nextFrame.push_back(since(4));
  }
  state.counters["ms_per_write"] = total / static_cast<double>(state.iterations()) / kWrites;
  state.counters["per_write_over_4_reports"] = total / static_cast<double>(state.iterations()) / kWrites / 4.0;
  state.counters["t_board_ack_ms"] = Median(boardAck);
  state.counters["t_answer_ms"] = Median(answer);
  state.counters["t_our_ack_ms"] = Median(ourAck);
  state.counters["t_next_frame_ms"] = Median(nextFrame);
}
BENCHMARK(BM_RegisterWriteSteps)->UseManualTime()->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
