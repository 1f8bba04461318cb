// Cost of the engine's own work per frame, with the transport and the report
// pacing taken out: a writer that drops everything and a sleeper that returns.
#include <benchmark/benchmark.h>

#include <cstring>

#include "link/LinkHost.h"
#include "link/ProtocolEngine.h"
#include "link/QVProtocol.h"
#include "link/TrafficCapture.h"
#include "link/TrafficRecord.h"
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

// What the traffic page pays per report on the window's thread: one register
// write's four reports (our frame, its ACK, the answer, our ACK) queued by the
// tap, taken, and decoded into rows.
void BM_TrafficDecode(benchmark::State& state) {
  const testframes::Bytes record{1, 0x5B, 0x20, 6, 4, 0, 1, 2, 3, 4, 5, 6};
  std::vector<std::pair<bool, testframes::Report>> exchange;
  exchange.emplace_back(true, testframes::Cut(testframes::BoardFrame(16, 3, record, 7))[0]);
  exchange.emplace_back(false, testframes::Cut(testframes::BoardAck(7))[0]);
  exchange.emplace_back(false, testframes::Cut(testframes::BoardFrame(16, 4, record, 9))[0]);
  exchange.emplace_back(true, testframes::Cut(testframes::BoardAck(9))[0]);
  TrafficCapture capture;
  TrafficDecoder decoder;
  std::vector<TrafficReport> taken;
  std::vector<TrafficRow> rows;
  std::array<std::uint8_t, 65> report{};
  for (auto _ : state) {
    for (const auto& [out, data] : exchange) {
      std::copy(data.begin(), data.end(), report.begin() + 1);
      capture.Push(out, false, report.data(), report.size());
    }
    capture.TakeAll(taken);
    rows.clear();
    for (const auto& r : taken) decoder.Feed(r, rows);
    benchmark::DoNotOptimize(rows.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(exchange.size()));
}
BENCHMARK(BM_TrafficDecode);

BENCHMARK_MAIN();
