// Feeds arbitrary bytes to the setup file reader: it must refuse or accept
// without reading outside the input, and a setup it accepts must stay inside
// the ranges the writers rely on, be written back to a file that reads the
// same, and give register writes that fit the chip.
#include <cstdint>
#include <string_view>

#include "chip/RegisterMap.h"
#include "setup/Setup.h"
#include "setup/SetupWrites.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  const auto s = setup::ParseSetup(std::string_view(reinterpret_cast<const char*>(data), size), error);
  if (!s) {
    if (error.empty()) __builtin_trap();  // a refusal always says why
    return 0;
  }
  const int leds = setup::BoardLedCount(s->boardId);
  if (leds == 0 || (!s->brightness.empty() && static_cast<int>(s->brightness.size()) != leds)) __builtin_trap();
  if (s->maxCurrentMa && (*s->maxCurrentMa < 0 || *s->maxCurrentMa > 40)) __builtin_trap();
  if (s->i2cAddress < 0x58 || s->i2cAddress > 0x5B) __builtin_trap();
  for (const auto& t : {s->rampTimes, s->keepTimes})
    if (t && (t->on >= chip::kTimeTexts.size() || t->off >= chip::kTimeTexts.size())) __builtin_trap();
  for (const auto& pins : {s->interruptDisabled, s->outputHigh})
    if (pins)
      for (int i = leds; i < chip::kMaxPins; ++i)
        if ((*pins)[static_cast<std::size_t>(i)]) __builtin_trap();
  std::string again;
  const auto back = setup::ParseSetup(setup::SetupToJson(*s), again);
  if (!back || !(*back == *s)) __builtin_trap();
  for (const auto& w : setup::SetupWrites(*s))
    if (w.data.empty() || w.reg + w.data.size() > 0x30) __builtin_trap();
  (void)setup::ExportCHeader(*s, "fuzz.json");
  (void)setup::ExportJsonList(*s);
  return 0;
}
