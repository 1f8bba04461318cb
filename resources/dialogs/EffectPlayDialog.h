// Layout of the effect dialog (dialog 116): 500 x 185 dialog units, 8-point
// base units. The message across the middle with the animated picture at its
// left (made at run time, id 2100), the STOP button under it.
#pragma once

#include "platform/qt/DialogTemplate.h"

namespace dialogs {

inline constexpr int IDD_EFFECT_PLAY = 116;
inline constexpr int IDC_EFFECT_PICTURE = 2100;
inline constexpr int IDC_EFFECT_MESSAGE = 2101;
inline constexpr int IDC_EFFECT_STOP = 2102;

using platform::ControlClass;
inline constexpr platform::ControlTemplate kEffectPlayControls[] = {
    {IDC_EFFECT_MESSAGE, ControlClass::StaticFont, "", 92, 44, 380, 36},
    {IDC_EFFECT_STOP, ControlClass::RectButton, "STOP", 190, 112, 120, 40},
};

inline constexpr platform::DialogTemplate kEffectPlayDialog{IDD_EFFECT_PLAY, 500, 185, 8, kEffectPlayControls};

}  // namespace dialogs
