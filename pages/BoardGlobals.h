// Process-wide state of the lamp board as the windows see it: which board is
// attached and identified, what is selected on the LED board page, the
// per-LED data, and the pages that exist (null while they do not).
#pragma once

#include <QColor>
#include <QString>
#include <array>
#include <functional>
#include <cstdint>

#include "chip/ChipAccess.h"  // g_bDevicePresent, g_bBoardMatched
#include "link/BoardIds.h"
#include "ui/BoardState.h"  // g_ledCount

class CPage;
class CRound;

// Board selection on the LED board page.
inline constexpr std::uint8_t kBoardKindStart = 8;
inline constexpr std::uint8_t kBoardKindPage = kBoardKindRoundPage;  // once the page exists
inline constexpr std::uint8_t kBoardKindSelected = kBoardKindChosen;
inline constexpr std::uint8_t kNoBoardId = 2;  // matches no board
extern std::uint8_t g_boardKind;
extern std::uint8_t g_selectedBoardId;
extern int g_i2cAddressIndex;
inline constexpr std::array<std::uint8_t, 4> kI2cAddresses = {0x58, 0x59, 0x5A, 0x5B};

// Per-LED data shared by the LED board page, the layout and the dial.
inline constexpr int kMaxLeds = 36;
extern std::array<std::uint8_t, kMaxLeds> g_ledBrightness;   // as edited
extern std::array<std::uint8_t, 32> g_ledBrightnessSent;     // as written to the chip
extern std::array<QColor, kMaxLeds> g_ledColors;
extern int g_bBrightnessPending;

// Selection on the LED layout page. The current LED is the one clicked last
// (or the source of a Ctrl-click copy); the list holds a Shift-built
// selection; the dial's value and the colour go to the selection.
extern int g_selectedLed;
extern std::array<std::uint8_t, 100> g_selectionList;
extern int g_selectionCount;
extern int g_bMultiSelection;   // the list was built by Shift-clicks
extern int g_anchorLed;         // the LED clicked last: source of a Ctrl-click
extern int g_bMultiSelectMode;  // Shift (not Ctrl) was held over an LED
extern int g_bCloneMode;        // Ctrl (not Shift) was held over an LED
extern int g_bClickPending;     // a click waits for the layout page's next tick
// The dial's value. Whoever sets it (the dial, a click on an LED, a loaded
// setup) wakes the layout page at once instead of leaving it to a tick, so a
// new value is on its way to the chip without waiting.
class DialValue {
 public:
  constexpr DialValue(std::uint8_t value) : value_(value) {}
  DialValue& operator=(std::uint8_t value);
  operator std::uint8_t() const { return value_; }

 private:
  std::uint8_t value_;
};
// Told after every assignment of the dial's value (the layout page listens).
void SetDialValueListener(std::function<void()> listener);
extern DialValue g_currentBrightness;
extern std::uint8_t g_lastBrightness;     // the dial's value last handed to the LEDs
extern QColor g_currentColor;             // the colour to give to the selection
extern QColor g_lastColor;                // the colour last given

// Pages.
extern CRound* g_pRoundPage;
class CRound_LED_Layout;
extern CRound_LED_Layout* g_pLayoutPage;
extern CPage* g_pBrightnessPage;  // the dial (CSetBrightnessLevel)
extern CPage* g_pFadeMode;
extern CPage* g_pBlinkMode;
extern CPage* g_pGpioInputPage;
extern CPage* g_pGpioOutputPage;
extern int g_bBlinkActive;
extern int g_bFadeActive;

// 0x00 to the effect control, then the brightness of every LED of the board
// as last sent (g_ledBrightnessSent): the chip's effect stops and the LEDs
// show what the page has.
void WriteLedBrightness();

// An LED someone else set since the page last wrote it (the Registers page,
// a setup) takes that value, as edited and as sent, unless the person changed
// it here too: the page's next block must not undo it, and a click on the
// LED must show it.
void TakeChipBrightness();

// The chip registry exists (replies are handled, pages may send).
bool ChipRegistryExists();
