// The HID transport on the hidraw stand-in (tests/standin): how often an
// idle, connected program wakes up and what it costs, and how much time the
// backend adds to a report over what the stand-in itself takes.
//   build/default/tests/bench/hidraw_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "corvel/Session.h"
#include "link/HidapiBackend.h"
#include "standin/StandInProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Usage {
  long switches;
  double cpuMs;
};
Usage Now() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return {u.ru_nvcsw + u.ru_nivcsw,
          (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3};
}

// Connected to an identified board and doing nothing: the reader thread is
// the only thread that runs (the main one sleeps once per second).
void BM_IdleConnected(benchmark::State& state) {
  StandInProcess standIn({"--latency", "1"});
  if (standIn.Path().empty()) return state.SkipWithError("the hidraw stand-in did not come up");
  SessionOptions options;
  options.devicePath = standIn.Path();
  Session session(options);
  std::string error;
  BoardInfo info;
  if (!session.Identify(info, error)) return state.SkipWithError(error.c_str());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the last exchange's busy time passes
  double wakeups = 0, cpu = 0;
  for (auto _ : state) {
    const Usage before = Now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const Usage after = Now();
    wakeups += static_cast<double>(after.switches - before.switches - 1);
    cpu += after.cpuMs - before.cpuMs;
  }
  state.counters["wakeups_per_s"] = wakeups / static_cast<double>(state.iterations());
  state.counters["cpu_ms_per_s"] = cpu / static_cast<double>(state.iterations());
}
BENCHMARK(BM_IdleConnected)->Iterations(3)->Unit(benchmark::kMillisecond);

// One bootloader connect record out, its answer in. `raw` does it on the
// node with a blocking read (the stand-in's own time); otherwise through the
// backend's device, as the transport does.
void Exchange(benchmark::State& state, bool raw) {
  // The USB poll of 1 ms each way: the answer comes while the reader waits.
  StandInProcess standIn({"--bootloader", "1", "--latency", "1"});
  if (standIn.Path().empty()) return state.SkipWithError("the hidraw stand-in did not come up");
  std::array<std::uint8_t, 65> out{};
  out.fill(0xFF);
  out[0] = 0;
  out[1] = 0xE0;  // connect: answered with the boot version
  std::array<std::uint8_t, 65> in{};
  std::vector<double> us;
  HidapiBackend backend;
  std::string error;
  auto device = raw ? nullptr : backend.Open(standIn.Path(), error);
  const int fd = raw ? open(standIn.Path().c_str(), O_RDWR) : -1;
  if (!raw && !device) return state.SkipWithError(error.c_str());
  for (auto _ : state) {
    const auto start = Clock::now();
    if (raw) {
      if (write(fd, out.data(), out.size()) != 65 || read(fd, in.data() + 1, 64) != 64)
        return state.SkipWithError("raw exchange failed");
    } else {
      if (device->Write(out.data(), out.size()) != 65 || device->Read(in.data(), in.size(), 1000) != 65)
        return state.SkipWithError("exchange failed");
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  if (fd >= 0) close(fd);
  std::sort(us.begin(), us.end());
  state.counters["median_us"] = us.empty() ? 0 : us[us.size() / 2];
}
void BM_ExchangeRawNode(benchmark::State& state) { Exchange(state, true); }
void BM_ExchangeBackend(benchmark::State& state) { Exchange(state, false); }
BENCHMARK(BM_ExchangeRawNode)->Iterations(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExchangeBackend)->Iterations(500)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
