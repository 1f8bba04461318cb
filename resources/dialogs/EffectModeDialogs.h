// Layouts of the blink page (dialog 284) and the fade page (dialog 282):
// 395 x 166 dialog units each, 9-point base units, so that each fits its host
// on the LED board page. Title on top, the time lists in a grid under it, the
// start buttons at the bottom.
#pragma once

#include "platform/qt/DialogTemplate.h"

namespace dialogs {

inline constexpr int IDD_BLINK_MODE = 284;
inline constexpr int IDC_BLINK_RAMP_ON = 2754;
inline constexpr int IDC_BLINK_RAMP_OFF = 2755;
inline constexpr int IDC_BLINK_KEEP_ON = 2756;
inline constexpr int IDC_BLINK_KEEP_OFF = 2757;
inline constexpr int IDC_BLINK_GO = 2758;
inline constexpr int IDC_BLINK_RAMP_ON_LABEL = 2760;
inline constexpr int IDC_BLINK_RAMP_OFF_LABEL = 2761;
inline constexpr int IDC_BLINK_KEEP_ON_LABEL = 2762;
inline constexpr int IDC_BLINK_KEEP_OFF_LABEL = 2763;
inline constexpr int IDC_BLINK_TITLE = 2767;
// One period of the chosen times, drawn to scale, left of "Blink Go".
inline constexpr int IDC_BLINK_PLOT = 2796;

inline constexpr int IDD_FADE_MODE = 282;
inline constexpr int IDC_FADE_RAMP_ON = 2749;
inline constexpr int IDC_FADE_RAMP_OFF = 2750;
inline constexpr int IDC_FADE_RAMP_ON_LABEL = 2751;
inline constexpr int IDC_FADE_RAMP_OFF_LABEL = 2752;
inline constexpr int IDC_FADE_ON = 2753;
inline constexpr int IDC_FADE_OFF = 2754;
inline constexpr int IDC_FADE_TITLE = 2765;
// The two ramps to scale, between the time lists and the buttons.
inline constexpr int IDC_FADE_PLOT = 2795;

using platform::ControlClass;
using platform::kStyleRight;
inline constexpr platform::ControlTemplate kBlinkModeControls[] = {
    {IDC_BLINK_TITLE, ControlClass::MyStatic, "BLINK MODE", 16, 12, 150, 14},
    {IDC_BLINK_RAMP_ON_LABEL, ControlClass::StaticFont, "Ramp On", 16, 44, 62, 14, kStyleRight},
    {IDC_BLINK_RAMP_ON, ControlClass::ComboBox, "", 84, 42, 100, 16},
    {IDC_BLINK_RAMP_OFF_LABEL, ControlClass::StaticFont, "Ramp Off", 200, 44, 62, 14, kStyleRight},
    {IDC_BLINK_RAMP_OFF, ControlClass::ComboBox, "", 268, 42, 100, 16},
    {IDC_BLINK_KEEP_ON_LABEL, ControlClass::StaticFont, "Keep On", 16, 78, 62, 14, kStyleRight},
    {IDC_BLINK_KEEP_ON, ControlClass::ComboBox, "", 84, 76, 100, 16},
    {IDC_BLINK_KEEP_OFF_LABEL, ControlClass::StaticFont, "Keep Off", 200, 78, 62, 14, kStyleRight},
    {IDC_BLINK_KEEP_OFF, ControlClass::ComboBox, "", 268, 76, 100, 16},
    {IDC_BLINK_GO, ControlClass::RectButton, "Blink Go", 140, 114, 110, 28},
    {IDC_BLINK_PLOT, ControlClass::Host, "", 14, 98, 120, 62},
};
inline constexpr platform::DialogTemplate kBlinkModeDialog{IDD_BLINK_MODE, 395, 166, 9, kBlinkModeControls};

inline constexpr platform::ControlTemplate kFadeModeControls[] = {
    {IDC_FADE_TITLE, ControlClass::MyStatic, "FADE MODE", 16, 12, 150, 14},
    {IDC_FADE_RAMP_ON_LABEL, ControlClass::StaticFont, "Ramp On", 16, 44, 62, 14, kStyleRight},
    {IDC_FADE_RAMP_ON, ControlClass::ComboBox, "", 84, 42, 100, 16},
    {IDC_FADE_RAMP_OFF_LABEL, ControlClass::StaticFont, "Ramp Off", 200, 44, 62, 14, kStyleRight},
    {IDC_FADE_RAMP_OFF, ControlClass::ComboBox, "", 268, 42, 100, 16},
    {IDC_FADE_ON, ControlClass::RectButton, "Fade On", 70, 114, 110, 28},
    {IDC_FADE_OFF, ControlClass::RectButton, "Fade Off", 215, 114, 110, 28},
    {IDC_FADE_PLOT, ControlClass::Host, "", 20, 61, 355, 50},
};
inline constexpr platform::DialogTemplate kFadeModeDialog{IDD_FADE_MODE, 395, 166, 9, kFadeModeControls};

}  // namespace dialogs
