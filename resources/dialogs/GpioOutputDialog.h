// Layout of the GPIO output page (dialog 259): 520 x 120 dialog units, 9-point
// base units, centred in its host below the board drawing. The driver type
// (for all pins) and the output level of the selected pin, one row each; a
// note under them on boards whose pins have no output-level mapping.
#pragma once

#include "platform/qt/DialogTemplate.h"

namespace dialogs {

inline constexpr int IDD_GPIO_OUTPUT = 259;
inline constexpr int IDC_GPIO_OUTPUT_TITLE = 2676;
inline constexpr int IDC_GPIO_MODE_LABEL = 2677;
inline constexpr int IDC_GPIO_OUTPUT_MODE = 2372;
inline constexpr int IDC_GPIO_LEVEL_LABEL = 2681;
inline constexpr int IDC_GPIO_OUTPUT_LEVEL = 2383;
inline constexpr int IDC_GPIO_NO_MAPPING = 2682;

using platform::ControlClass;
using platform::kStyleHidden;
inline constexpr platform::ControlTemplate kGpioOutputControls[] = {
    {IDC_GPIO_OUTPUT_TITLE, ControlClass::MyStatic, "Output Function", 12, 8, 200, 14},
    {IDC_GPIO_MODE_LABEL, ControlClass::StaticFont, "Output Mode", 24, 38, 120, 14},
    {IDC_GPIO_OUTPUT_MODE, ControlClass::ComboBox, "", 150, 36, 100, 16},
    {IDC_GPIO_LEVEL_LABEL, ControlClass::StaticFont, "Write Output Register", 24, 68, 120, 14},
    {IDC_GPIO_OUTPUT_LEVEL, ControlClass::ComboBox, "", 150, 66, 100, 16},
    {IDC_GPIO_NO_MAPPING, ControlClass::StaticFont,
     "This board has no output level mapping: registers 0x02 and 0x03 are written as 0x00.", 24, 96, 480, 14,
     kStyleHidden},
};

inline constexpr platform::DialogTemplate kGpioOutputDialog{IDD_GPIO_OUTPUT, 520, 120, 9, kGpioOutputControls};

}  // namespace dialogs
