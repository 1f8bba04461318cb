// Feeds arbitrary bytes to the engine's receive side as a stream of 64-byte
// reports: nothing from the wire may make it read or write out of bounds,
// leak a record or hang.
#include <cstdint>
#include <cstring>

#include "link/FrameTrace.h"
#include "link/LinkHost.h"
#include "link/ProtocolEngine.h"
#include "link/QVProtocol.h"
#include "platform/MessageTarget.h"
#include "platform/Sleep.h"

namespace {
class NullHost : public EngineHost {
 public:
  int WriteReport(const std::uint8_t*, int) override { return 1; }
  void SetLinkState(int) override {}
  void PostLinkState() override {}
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CQVProtocol protocol;
  static NullHost host;
  static platform::ScopedQueueTarget main;
  static bool once = [] {
    protocol.UseCrc16();
    g_pProtocol = &protocol;
    platform::SetSleepHook([](std::uint32_t) {});
    corvel::SetMainDialogHandle(main.handle());
    corvel::SetChipRegistryPresent(true);
    corvel::SetTraceSink([](const std::string&) {});
    return true;
  }();
  (void)once;
  ProtocolEngine& engine = ProtocolEngine::Instance();
  engine.SetHost(&host);
  engine.ResetLink();
  // A frame of ours in flight and one queued, so that the board's ACKs and
  // NAKs find something; the clock runs a second on after every fourth
  // report, so missing ACKs are sent again and the link is given up on.
  const std::uint8_t b = 0;
  engine.SendCommand(64, 10, 1, &b);
  engine.SendCommand(16, 1, 1, &b);
  FrameTracer tracer;
  std::uint8_t report[64];
  auto now = ProtocolEngine::Clock::now();
  for (std::size_t off = 0, n = 0; off < size; off += 64, ++n) {
    std::memset(report, 0xFF, sizeof report);
    std::memcpy(report, data + off, std::min<std::size_t>(64, size - off));
    engine.QueueReport(report);
    engine.ProcessReport();
    tracer.Feed(report);
    if (n % 4 == 3) engine.Poll(now += std::chrono::seconds(1));
  }
  main->Drain();
  const auto s = engine.GetStats();
  if (s.outgoingInUse != static_cast<int>(s.windowCount)) __builtin_trap();  // an outgoing record leaked
  if (s.incomingInUse != 0) __builtin_trap();  // a received record was not given back
  return 0;
}
