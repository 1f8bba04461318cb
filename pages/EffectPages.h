// The blink and fade pages of the LED board page, and what they share: the
// process-wide effect state and the set-up of their controls.
#pragma once

#include <cstdint>
#include <span>

#include "platform/MessageTarget.h"

class CMyComboBox;
class CMyStaticFont;
class CMyRectButton;
class CPage;
class QWidget;

// 1: the next "Blink Go" may start the effect; anything else: a reset must
// come first.
extern int g_blinkGoCount;
// Which fade button started the current fade chain.
extern int g_bFadeOn;
extern int g_bFadeOff;

namespace effectpages {

// Lets the LED board page make the blink and fade pages. Once, at start-up.
void RegisterEffectPages();

// A time list as both pages show it: the six times, "0ms" chosen, nothing
// to type into.
void SetUpTimeCombo(CMyComboBox* combo);
// Shows a time code in a time list without running its handler (nothing is
// written); a code without a time leaves the list showing none.
void ShowTimeCode(CMyComboBox* combo, std::uint8_t code);
// How often the pages look whether the chip model moved.
inline constexpr std::uint32_t kModelTimer = 23;
inline constexpr std::uint32_t kModelPeriodMs = 100;
// The time code chosen in a time list (its index).
std::uint8_t TimeCode(const CMyComboBox* combo);
// The labels beside the time lists.
void SetUpLabel(CMyStaticFont* label);
// The box that refuses an effect with a time left at "0ms".
void WarnZeroTime();
// The colour of a start button that may be pressed.
void ShowReady(CMyRectButton* button);
// The page's layout for the screen, as every page of the LED board page has it.
void ScalePage(CPage* page);
// The reply a relayed message carries; empty when it carries none.
std::span<const std::uint8_t> Payload(const platform::Message& message);

}  // namespace effectpages
