// Does the traffic page slow the link? The whole program on the simulated
// board exchanges 10,000 register writes (each: our frame, the board's ACK,
// its answer, our ACK) with the traffic page shown, with it hidden behind the
// LED board page (it still collects and decodes), and without the transport's
// tap at all. The time is from the first command to the last acknowledgement.
//
//   build/default/tests/bench/traffic_bench --benchmark_repetitions=9 \
//       --benchmark_enable_random_interleaving=true
//
// Interleaved repetitions: on a machine that does other work too, the
// variants then share its ups and downs instead of each having its own.
//
// Arguments: the page (0 no tap, 1 hidden, 2 shown) and the report pacing
// (1: the link's real 1 ms per report; 0: none, so the link runs as fast as
// the processor lets it and any work the page adds shows at once).
#include <benchmark/benchmark.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <array>
#include <memory>

#include "app/ToolPages.h"
#include "pages/TrafficPage.h"
#include "pages/BoardGlobals.h"
#include "chip/ChipAccess.h"
#include "link/MUSBHid.h"
#include "link/QVCommunication.h"
#include "link/TrafficCapture.h"
#include "platform/Sleep.h"
#include "resources/dialogs/MainWindowDialog.h"
#include "sim/SimBoard.h"
#include "tests/bench/BenchProgram.h"

namespace {

constexpr int kCommands = 10000;

using bench::Program;
using bench::Running;

void ShowPage(int id) { platform::Control<QAbstractButton>(Running().window, id)->click(); }

// Sends kCommands register writes, keeping the send window busy, and runs the
// event loop until the board has acknowledged the last. Milliseconds, or -1.
//
// Between tries the loop sleeps until something arrives (an answer posted to
// the window, a traffic row): a loop that spun instead would measure its own
// spinning, which competes with the reader thread for the processor.
double Exchange() {
  QVCommunication* comm = g_pCommunication.load();
  // Wakes the wait now and then, so that a wait that nothing ends (the
  // window frees a slot without posting anything) still ends.
  QTimer nudge;
  nudge.start(20);
  QElapsedTimer t;
  t.start();
  int sent = 0;
  while (sent < kCommands) {
    // The engine refuses once 64 commands wait; the window's event loop
    // runs between tries as it would between a user's clicks.
    while (sent < kCommands &&
           chip::WriteChipRegisters(0x20, std::array{static_cast<std::uint8_t>(sent)}) == 1)
      ++sent;
    if (sent < kCommands) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (t.elapsed() > 600000) return -1;
  }
  while (comm->Engine().GetStats().windowCount != 0) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (t.elapsed() > 600000) return -1;
  }
  return t.nsecsElapsed() / 1e6;
}

void BM_TenThousandCommands(benchmark::State& state) {
  Program& p = Running();
  const int page = static_cast<int>(state.range(0));
  const bool paced = state.range(1) != 0;
  if (!paced) platform::SetSleepHook([](std::uint32_t) {});
  QVCommunication* comm = g_pCommunication.load();
  if (page == 0) comm->Hid()->SetReportTap({});
  ShowPage(page == 2 ? dialogs::IDC_PAGE_TRAFFIC : dialogs::IDC_PAGE_ROUND);

  for (auto _ : state) {
    // Each run starts from a quiet link and an empty list.
    for (int i = 0; i < 50; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (g_pTrafficPage) g_pTrafficPage->ClearList();
    const double ms = Exchange();
    state.SetIterationTime(std::max(ms, 0.0) / 1000.0);
    if (ms < 0) state.SkipWithError("the exchange did not finish");
  }
  state.counters["commands"] = kCommands;
  state.counters["us_per_command"] = benchmark::Counter(kCommands, benchmark::Counter::kIsIterationInvariantRate |
                                                                       benchmark::Counter::kInvert);
  state.counters["rows_kept"] = g_pTrafficPage ? g_pTrafficPage->Model().rowCount() : 0;
  state.counters["reports_lost"] = g_pTrafficCapture ? static_cast<double>(g_pTrafficCapture->Dropped()) : 0;

  // Put the tap back for the next variant.
  if (page == 0) InstallTrafficTap(comm, g_pTrafficCapture);
  platform::SetSleepHook({});
}
BENCHMARK(BM_TenThousandCommands)
    ->ArgNames({"page", "paced"})
    ->Args({0, 0})->Args({1, 0})->Args({2, 0})
    ->Args({0, 1})->Args({1, 1})->Args({2, 1})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return bench::RunWithProgram(argc, argv); }
