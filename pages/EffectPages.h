// The blink and fade pages of the LED board page, and what they share: the
// process-wide effect state and the set-up of their controls.
#pragma once

#include <cstdint>
#include <span>

#include <QString>

#include "chip/ChipClaims.h"
#include "platform/MessageTarget.h"

class CMyComboBox;
class CMyStaticFont;
class CMyRectButton;
class EffectTimingPlot;
class CPage;
class QWidget;

// 1: the next "Blink Go" may start the effect; anything else: a reset must
// come first.
extern int g_blinkGoCount;
// Which fade button started the current fade chain.
extern int g_bFadeOn;
extern int g_bFadeOff;

namespace effectpages {

// A time list as both pages show it: the six times, "0ms" chosen, nothing
// to type into.
void SetUpTimeCombo(CMyComboBox* combo);
// Shows a time code in a time list without running its handler (nothing is
// written); a code without a time leaves the list showing none.
void ShowTimeCode(CMyComboBox* combo, std::uint8_t code);
// How often the pages look whether the chip model moved.
inline constexpr std::uint32_t kModelTimer = 23;
inline constexpr std::uint32_t kModelPeriodMs = 100;
// The time code chosen in a time list (its index; 0, which no effect starts
// with, when the list shows none).
std::uint8_t TimeCode(const CMyComboBox* combo);
// A 0x15/0x16 byte whose two codes have no time: shown, it leaves both lists
// showing none.
inline constexpr std::uint8_t kNoTimeByte = 0x3F;
// The code a timing plot draws for a list: one without a time (no length, no
// label of a time) when the list shows none.
std::uint8_t PlotCode(const CMyComboBox* combo);
// The labels beside the time lists.
void SetUpLabel(CMyStaticFont* label);
// The box that refuses an effect with a time left at "0ms".
void WarnZeroTime();
// The colour of a start button that may be pressed.
void ShowReady(CMyRectButton* button);
// The page's layout for the screen, as every page of the LED board page has it.
void ScalePage(CPage* page);
// The picture of the effect's period, filling the page's host `hostId`.
EffectTimingPlot* AddTimingPlot(CPage* page, int hostId);
// What a page says while the chip runs one of its effects (the blink page
// for blink, the fade page for fade on and off); empty otherwise.
QString RunningText(bool blinkPage);
// The reply a relayed message carries; empty when it carries none.
std::span<const std::uint8_t> Payload(const platform::Message& message);

}  // namespace effectpages

namespace effectpages {
// The claims of a time list (index shown: the code in its three bits of
// `reg`, from bit `shift`) and of a timing plot (each timed stretch drawn).
void AddTimeClaim(chip::ChipClaims& claims, const char* what, const CMyComboBox* combo, std::uint8_t reg, int shift);
void AddPlotClaims(chip::ChipClaims& claims, const EffectTimingPlot* plot);
}  // namespace effectpages
