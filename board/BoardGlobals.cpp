#include "board/BoardGlobals.h"

#include "link/LinkHost.h"

int g_bDevicePresent = 0;
int g_bBoardMatched = 0;

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
int g_selectedLed = 0;
int g_bBrightnessPending = 1;

CRound* g_pRoundPage = nullptr;
CPage* g_pLayoutPage = nullptr;
CPage* g_pBrightnessPage = nullptr;
CPage* g_pFadeMode = nullptr;
CPage* g_pBlinkMode = nullptr;
CPage* g_pGpioInputPage = nullptr;
CPage* g_pGpioOutputPage = nullptr;
int g_bBlinkActive = 0;
int g_bFadeActive = 0;

MainWindowServices* g_pMainServices = nullptr;

bool ChipRegistryExists() { return corvel::ChipRegistryPresent(); }
