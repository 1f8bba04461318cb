// How often the window wakes up when nobody does anything: the whole program
// on the simulated board, identified, the event loop running, for a second at
// a time. Counted per thread from the kernel's context switches, so the main
// thread (timers) and the HID reader (its read waits) show apart.
//
//   build/default/tests/bench/idle_bench
#include <benchmark/benchmark.h>

#include <QEventLoop>
#include <QTimer>

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

#include "tests/bench/BenchProgram.h"

namespace {

// Context switches (voluntary and not) of every thread of this process.
std::map<long, long> SwitchesByThread() {
  std::map<long, long> counts;
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return counts;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    const std::string path = std::string("/proc/self/task/") + e->d_name + "/status";
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) continue;
    char line[256];
    long total = 0;
    while (std::fgets(line, sizeof line, f)) {
      long n = 0;
      if (std::sscanf(line, "voluntary_ctxt_switches: %ld", &n) == 1 ||
          std::sscanf(line, "nonvoluntary_ctxt_switches: %ld", &n) == 1)
        total += n;
    }
    std::fclose(f);
    counts[std::stol(e->d_name)] = total;
  }
  closedir(dir);
  return counts;
}

void BM_IdleIdentifiedWindow(benchmark::State& state) {
  bench::Running();
  // The last exchange of the identification and its busy time pass first.
  QEventLoop settle;
  QTimer::singleShot(1000, &settle, &QEventLoop::quit);
  settle.exec();

  const long mainThread = getpid();
  double main = 0, others = 0;
  for (auto _ : state) {
    const auto before = SwitchesByThread();
    QEventLoop loop;
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec();
    const auto after = SwitchesByThread();
    for (const auto& [tid, n] : after) {
      const auto was = before.find(tid);
      const double woke = static_cast<double>(n - (was == before.end() ? 0 : was->second));
      (tid == mainThread ? main : others) += woke;
    }
    main -= 1;  // the measuring timer's own wake
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["wakeups_per_s"] = (main + others) / runs;
  state.counters["main_thread_per_s"] = main / runs;
  state.counters["other_threads_per_s"] = others / runs;
}
BENCHMARK(BM_IdleIdentifiedWindow)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return bench::RunWithProgram(argc, argv); }
