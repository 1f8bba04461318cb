// Layout of the LED layout page (dialog 117): 320 x 240 dialog units, 9-point
// base units. A caption on top, the LED cells (placed by the page itself in
// one or two rows at fixed heights), and the two hint lines below them.
#pragma once

#include "platform/qt/DialogTemplate.h"

namespace dialogs {

inline constexpr int IDD_LED_LAYOUT = 117;
inline constexpr int IDC_LED_FIRST = 2214;         // LEDs 0..17
inline constexpr int IDC_LED_SECOND_FIRST = 2239;  // LEDs 18..35
inline constexpr int IDC_LAYOUT_CAPTION = 2232;
inline constexpr int IDC_HINT_HOLD_CTRL = 2233;
inline constexpr int IDC_HINT_HOLD_SHIFT = 2234;
inline constexpr int IDC_HINT_CLONE = 2235;
inline constexpr int IDC_HINT_MULTI = 2236;
inline constexpr int IDC_KEY_CTRL = 2237;
inline constexpr int IDC_KEY_SHIFT = 2238;

inline constexpr int kLedButtonCount = 36;
inline constexpr int LedButtonId(int led) { return led < 18 ? IDC_LED_FIRST + led : IDC_LED_SECOND_FIRST + (led - 18); }

using platform::ControlClass;
using platform::kStyleHidden;
#define CORVEL_LED(i) {LedButtonId(i), ControlClass::RoundButton, #i, 0, 0, 30, 30, kStyleHidden}
inline constexpr platform::ControlTemplate kLedLayoutControls[] = {
    CORVEL_LED(0),  CORVEL_LED(1),  CORVEL_LED(2),  CORVEL_LED(3),  CORVEL_LED(4),  CORVEL_LED(5),
    CORVEL_LED(6),  CORVEL_LED(7),  CORVEL_LED(8),  CORVEL_LED(9),  CORVEL_LED(10), CORVEL_LED(11),
    CORVEL_LED(12), CORVEL_LED(13), CORVEL_LED(14), CORVEL_LED(15), CORVEL_LED(16), CORVEL_LED(17),
    CORVEL_LED(18), CORVEL_LED(19), CORVEL_LED(20), CORVEL_LED(21), CORVEL_LED(22), CORVEL_LED(23),
    CORVEL_LED(24), CORVEL_LED(25), CORVEL_LED(26), CORVEL_LED(27), CORVEL_LED(28), CORVEL_LED(29),
    CORVEL_LED(30), CORVEL_LED(31), CORVEL_LED(32), CORVEL_LED(33), CORVEL_LED(34), CORVEL_LED(35),
    {IDC_LAYOUT_CAPTION, ControlClass::StaticFont, "Select an LED light to configure", 10, 10, 300, 16},
    {IDC_HINT_HOLD_CTRL, ControlClass::StaticFont, "Hold", 10, 200, 24, 12},
    {IDC_KEY_CTRL, ControlClass::StaticFont, " Ctrl", 34, 199, 24, 13},
    {IDC_HINT_CLONE, ControlClass::StaticFont, "and click to clone an LED's settings", 61, 200, 200, 12},
    {IDC_HINT_HOLD_SHIFT, ControlClass::StaticFont, "Hold", 10, 218, 24, 12},
    {IDC_KEY_SHIFT, ControlClass::StaticFont, " Shift", 34, 217, 27, 13},
    {IDC_HINT_MULTI, ControlClass::StaticFont, "and click to select multiple LEDs", 64, 218, 200, 12},
};
#undef CORVEL_LED

inline constexpr platform::DialogTemplate kLedLayoutDialog{IDD_LED_LAYOUT, 320, 240, 9, kLedLayoutControls};

}  // namespace dialogs
