// Cost of the engine's own work per frame, with the transport and the report
// pacing taken out: a writer that drops everything and a sleeper that returns.
#include <benchmark/benchmark.h>

#include <cstring>

#include "link/LinkHost.h"
#include "link/ProtocolEngine.h"
#include "link/QVProtocol.h"
#include "platform/Sleep.h"
#include "support/TestFrames.h"

namespace {

class NullHost : public EngineHost {
 public:
  int WriteReport(const std::uint8_t*, int length) override {
    bytes += static_cast<std::size_t>(length);
    return 1;
  }
  void SetLinkState(int) override {}
  void PostLinkState() override {}
  std::size_t bytes = 0;
};

struct Setup {
  Setup() {
    protocol.UseCrc16();
    g_pProtocol = &protocol;
    platform::SetSleepHook([](std::uint32_t) {});
    engine.SetHost(&host);
    engine.ResetLink();
  }
  ~Setup() {
    engine.SetHost(nullptr);
    platform::SetSleepHook({});
    g_pProtocol = nullptr;
  }
  CQVProtocol protocol;
  NullHost host;
  ProtocolEngine& engine = ProtocolEngine::Instance();
};

// Frame build + checksum + cut into reports + the ACK that frees the slot.
void BM_SendFrame(benchmark::State& state) {
  Setup s;
  std::vector<std::uint8_t> payload(static_cast<std::size_t>(state.range(0)), 0x5A);
  std::uint16_t seq = 0;
  for (auto _ : state) {
    s.engine.SendCommand(16, 3, static_cast<std::uint16_t>(payload.size()), payload.data());
    const auto ack = testframes::BoardAck(seq++);
    std::array<std::uint8_t, 64> report{};
    std::memcpy(report.data(), ack.data(), ack.size());
    s.engine.QueueReport(report.data());
    s.engine.ProcessReport();
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["wire_bytes"] = benchmark::Counter(static_cast<double>(s.host.bytes),
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SendFrame)->Arg(1)->Arg(64)->Arg(1024);

// Receive + reassemble + checksum + ACK of a frame with a 64-byte payload
// (two reports); replies are dispatched to nowhere.
void BM_ReceiveFrame(benchmark::State& state) {
  Setup s;
  corvel::SetChipRegistryPresent(false);  // measure the engine, not the message copy
  const auto reports = testframes::Cut(testframes::BoardFrame(64, 2, std::vector<std::uint8_t>(64, 7)));
  for (auto _ : state) {
    for (const auto& r : reports) {
      s.engine.QueueReport(r.data());
      benchmark::DoNotOptimize(s.engine.ProcessReport());
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReceiveFrame);

}  // namespace

BENCHMARK_MAIN();
