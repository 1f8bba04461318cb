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
  FrameTracer tracer;
  std::uint8_t report[64];
  for (std::size_t off = 0; off < size; off += 64) {
    std::memset(report, 0xFF, sizeof report);
    std::memcpy(report, data + off, std::min<std::size_t>(64, size - off));
    engine.QueueReport(report);
    engine.ProcessReport();
    tracer.Feed(report);
  }
  main->Drain();
  const auto s = engine.GetStats();
  if (s.incomingInUse != 0) __builtin_trap();  // a received record was not given back
  return 0;
}
