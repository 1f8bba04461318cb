// The largest image flashed to several simulated boards at once, each on a
// lamp session of its own, at the USB link's pace (1 ms per report, each
// way): the time for all of them against the time for one. The boards share
// nothing but the machine, so the goal is four in at most 1.1 x one's time.
// The erase is left out (the boards start erased of it at once).
//
//   build/default/tests/bench/bench_flash_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "firmware/BootTransfer.h"
#include "firmware/ImageFile.h"
#include "link/LinkHost.h"
#include "link/MUSBHid.h"
#include "platform/Messages.h"
#include "session/LampSession.h"
#include "sim/SimBackend.h"
#include "sim/SimBoard.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::microseconds kReportLatency{1000};

struct BoardUnderTest {
  std::unique_ptr<session::LampSession> lamp;
  std::unique_ptr<BootTransferContext> context;
  double seconds = 0;
  bool ok = false;
};

void BM_FlashBoardsAtOnce(benchmark::State& state) {
  const auto boards = static_cast<std::size_t>(state.range(0));
  const std::uint32_t length = kImageMaxDataLength;  // 1,966,080 bytes: 61,440 blocks
  std::vector<std::uint8_t> image(length + kImageTrailerSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31 + 7);
  corvel::SetTraceSink([](const std::string&) {});

  std::vector<std::unique_ptr<sim::SimBoard>> bench;
  std::vector<sim::SimBoard*> all;
  for (std::size_t i = 0; i < boards; ++i) {
    sim::SimConfig config;
    config.serialNumber = "BENCH" + std::to_string(i + 1);
    bench.push_back(std::make_unique<sim::SimBoard>(config));
    bench.back()->SetFaults({.reportLatency = kReportLatency});
    all.push_back(bench.back().get());
  }
  std::vector<BoardUnderTest> runs(boards);
  for (std::size_t i = 0; i < boards; ++i) {
    session::LampSessionOptions options;
    options.ownLink = true;
    options.choice.serial = bench[i]->SerialNumber();
    auto& run = runs[i];
    run.lamp = std::make_unique<session::LampSession>(std::make_unique<SimBackend>(all), options);
    run.context = std::make_unique<BootTransferContext>(BootTransferContext::WriterFor(run.lamp->Communication()),
                                                        BootTransferTiming{});
    run.context->SetStatusTarget(run.lamp->Handle());
    run.lamp->Communication().SetBootTransferContext(run.context.get());
    run.lamp->Communication().SetFirmwareUpdate(1);
  }

  for (auto _ : state) {
    for (std::size_t i = 0; i < boards; ++i) {
      bench[i]->RestartIntoBootloader();
      if (!runs[i].lamp->Communication().Connect()) {
        state.SkipWithError("a bootloader could not be opened");
        return;
      }
      runs[i].lamp->Pump([](const platform::Message&) { return false; }, std::chrono::milliseconds(50));
    }
    const auto start = Clock::now();
    std::vector<std::thread> waiters;
    for (auto& run : runs) {
      if (!run.context->StartTransfer(image, length, 0)) {
        state.SkipWithError("a transfer did not start");
        break;
      }
      waiters.emplace_back([&run, start] {
        auto m = run.lamp->Pump(
            [](const platform::Message& msg) { return msg.id == platform::kMsgBootStatus && IsFinalBootStatus(msg.wParam); },
            std::chrono::minutes(10));
        run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        run.ok = m && m->wParam == kBootStatusDone;
      });
    }
    for (auto& w : waiters) w.join();
    double slowest = 0;
    for (auto& run : runs) {
      run.context->Join();
      if (!run.ok) state.SkipWithError("an update failed");
      slowest = std::max(slowest, run.seconds);
      run.lamp->Communication().Disconnect();
    }
    state.SetIterationTime(slowest);
  }
  for (std::size_t i = 0; i < boards; ++i) {
    state.counters["board" + std::to_string(i + 1) + "_s"] = runs[i].seconds;
    runs[i].lamp->Communication().SetBootTransferContext(nullptr);
  }
  state.counters["boards"] = static_cast<double>(boards);
}

}  // namespace

// One board, then four at once; compare their times (real_time).
BENCHMARK(BM_FlashBoardsAtOnce)->Arg(1)->Arg(4)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
