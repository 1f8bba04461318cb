// A whole flash of the largest image through the simulated board with the
// USB link's pacing (1 ms per report, each way): the real transport, reader
// thread and update worker. The link's floor is one report out and one in
// per 32-byte block, 2 ms; the figure is how close the update comes to it.
// The erase is left out (a real one takes about 15 s for this image).
//
//   build/default/tests/bench/flash_bench [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "firmware/BootTransfer.h"
#include "firmware/ImageFile.h"
#include "link/LinkHost.h"
#include "link/QVCommunication.h"
#include "platform/MessageTarget.h"
#include "platform/Messages.h"
#include "sim/SimBackend.h"
#include "sim/SimBoard.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::microseconds kReportLatency{1000};
constexpr double kFloorPerBlockUs = 2.0 * 1000.0;  // one report each way

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

void BM_FlashLargestImage(benchmark::State& state) {
  const std::uint32_t length = kImageMaxDataLength;  // 1,966,080 bytes: 61,440 blocks
  std::vector<std::uint8_t> image(length + kImageTrailerSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31 + 7);

  platform::ScopedQueueTarget window;  // the update window: statuses arrive here
  corvel::SetBootDialogHandle(window.handle());
  corvel::SetTraceSink([](const std::string&) {});
  sim::SimBoard board;
  board.SetFaults({.reportLatency = kReportLatency});
  QVCommunication comm(std::make_unique<SimBackend>(board));
  comm.Init();

  // Every block request leaves through here: its time is the block's.
  std::vector<Clock::time_point> blockSent;
  blockSent.reserve(length / 32 + 1);
  BootTransferContext context(
      [&](const boot::Record& record) {
        if (record[boot::kOpcodeOffset] == boot::kOpBlock) blockSent.push_back(Clock::now());
        return comm.WriteBootRecord(record.data(), static_cast<int>(record.size())) == 1;
      },
      BootTransferTiming{});
  comm.SetBootTransferContext(&context);
  comm.SetFirmwareUpdate(1);

  std::vector<double> intervals;
  double blocks = 0;
  for (auto _ : state) {
    board.RestartIntoBootloader();
    if (!comm.Connect()) {
      state.SkipWithError("the bootloader could not be opened");
      break;
    }
    window->Drain();
    blockSent.clear();
    if (!context.StartTransfer(image, length, 0)) {
      state.SkipWithError("the transfer did not start");
      break;
    }
    std::optional<Clock::time_point> erased;
    Clock::time_point done{};
    for (bool finished = false; !finished;) {
      auto m = window->WaitFor(platform::kMsgBootStatus, std::chrono::seconds(30));
      if (!m) break;
      if (m->wParam == kBootStatusErased) erased = Clock::now();
      if (IsFinalBootStatus(m->wParam)) {
        finished = true;
        done = Clock::now();
        if (m->wParam != kBootStatusDone) state.SkipWithError(BootStatusText(m->wParam));
      }
    }
    context.Join();
    if (!erased || blockSent.size() < 2) {
      state.SkipWithError("no blocks were written");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(done - *erased).count());
    blocks = static_cast<double>(blockSent.size());
    for (std::size_t i = 1; i < blockSent.size(); ++i)
      intervals.push_back(std::chrono::duration<double, std::micro>(blockSent[i] - blockSent[i - 1]).count());
    comm.Disconnect();
  }
  comm.SetBootTransferContext(nullptr);
  corvel::SetBootDialogHandle(platform::kNoHandle);

  // Per block, over every block of every flash in this run.
  const double median = Percentile(intervals, 0.5);
  state.counters["blocks"] = blocks;
  state.counters["block_p10_us"] = Percentile(intervals, 0.10);
  state.counters["block_median_us"] = median;
  state.counters["block_p90_us"] = Percentile(intervals, 0.90);
  state.counters["block_p99_us"] = Percentile(intervals, 0.99);
  state.counters["ratio_to_floor"] = median / kFloorPerBlockUs;
}

}  // namespace

BENCHMARK(BM_FlashLargestImage)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
