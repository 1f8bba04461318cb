#include "pages/BoardGlobals.h"

#include <algorithm>
#include <span>

#include "chip/RegisterJournal.h"
#include "chip/RegisterMap.h"
#include "link/LinkHost.h"

std::uint8_t g_boardKind = kBoardKindStart;
std::uint8_t g_selectedBoardId = kNoBoardId;
int g_i2cAddressIndex = 3;

std::array<std::uint8_t, kMaxLeds> g_ledBrightness = [] {
  std::array<std::uint8_t, kMaxLeds> a;
  a.fill(0xFF);
  return a;
}();
std::array<std::uint8_t, 32> g_ledBrightnessSent = [] {
  std::array<std::uint8_t, 32> a;
  a.fill(0xFF);
  return a;
}();
std::array<QColor, kMaxLeds> g_ledColors = [] {
  std::array<QColor, kMaxLeds> a;
  a.fill(QColor(0, 0, 0));
  return a;
}();
int g_bBrightnessPending = 1;

int g_selectedLed = 0;
std::array<std::uint8_t, 100> g_selectionList{};
int g_selectionCount = 1;
int g_bMultiSelection = 0;
int g_anchorLed = 0;
int g_bMultiSelectMode = 0;
int g_bCloneMode = 0;
int g_bClickPending = 0;
DialValue g_currentBrightness = 255;

namespace {
std::function<void()>& DialValueListener() {
  static std::function<void()> listener;
  return listener;
}
}  // namespace

void SetDialValueListener(std::function<void()> listener) { DialValueListener() = std::move(listener); }

DialValue& DialValue::operator=(std::uint8_t value) {
  value_ = value;
  if (const auto& listener = DialValueListener()) listener();
  return *this;
}
std::uint8_t g_lastBrightness = 0xFF;
QColor g_currentColor(0, 0, 0);
// Not black, so that the first tick hands the start colour to the LEDs.
QColor g_lastColor = QColor::fromRgb(0xFF0000);

CRound* g_pRoundPage = nullptr;
CRound_LED_Layout* g_pLayoutPage = nullptr;
CPage* g_pBrightnessPage = nullptr;
CPage* g_pFadeMode = nullptr;
CPage* g_pBlinkMode = nullptr;
CPage* g_pGpioInputPage = nullptr;
CPage* g_pGpioOutputPage = nullptr;
int g_bBlinkActive = 0;
int g_bFadeActive = 0;

void WriteLedBrightness() {
  chip::WriteChipRegisters(chip::kRegEffectControl, std::array{chip::kEffectStop});
  const auto count = static_cast<std::size_t>(std::clamp(g_ledCount, 0, static_cast<int>(g_ledBrightnessSent.size())));
  chip::WriteChipRegisters(chip::kRegBrightness, std::span(g_ledBrightnessSent.data(), count));
}

bool ChipRegistryExists() { return corvel::ChipRegistryPresent(); }

void TakeChipBrightness() {
  const chip::RegisterJournal& journal = chip::Journal();
  const int count = std::clamp(g_ledCount, 0, std::min(chip::kMaxChipLeds, static_cast<int>(g_ledBrightnessSent.size())));
  for (int i = 0; i < count; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const auto known = journal.Known(static_cast<std::uint8_t>(chip::kRegBrightness + i));
    if (!known || *known == g_ledBrightnessSent[k] || g_ledBrightness[k] != g_ledBrightnessSent[k]) continue;
    g_ledBrightness[k] = *known;
    g_ledBrightnessSent[k] = *known;
  }
}
