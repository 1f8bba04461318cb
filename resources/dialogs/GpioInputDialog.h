// Layout of the GPIO input page (dialog 261): 520 x 120 dialog units, 9-point
// base units, centred in its host below the board drawing. The interrupt
// setting of the selected pin on the left, reading the two input ports on
// the right with their values under the button.
#pragma once

#include "platform/qt/DialogTemplate.h"

namespace dialogs {

inline constexpr int IDD_GPIO_INPUT = 261;
inline constexpr int IDC_GPIO_INPUT_TITLE = 2675;
inline constexpr int IDC_GPIO_INTERRUPT_LABEL = 2673;
inline constexpr int IDC_GPIO_INTERRUPT = 2672;
inline constexpr int IDC_GPIO_PORT0_TEXT = 2745;
inline constexpr int IDC_GPIO_PORT1_TEXT = 2746;
inline constexpr int IDC_GPIO_READ_INPUT = 2623;

using platform::ControlClass;
inline constexpr platform::ControlTemplate kGpioInputControls[] = {
    {IDC_GPIO_INPUT_TITLE, ControlClass::MyStatic, "Input Functions", 12, 8, 200, 14},
    {IDC_GPIO_INTERRUPT_LABEL, ControlClass::StaticFont, "Interrupt", 24, 48, 60, 14},
    {IDC_GPIO_INTERRUPT, ControlClass::ComboBox, "", 90, 46, 96, 16},
    {IDC_GPIO_READ_INPUT, ControlClass::RectButton, "read input state", 280, 42, 120, 22},
    {IDC_GPIO_PORT0_TEXT, ControlClass::StaticFont, "P0:", 280, 80, 110, 14},
    {IDC_GPIO_PORT1_TEXT, ControlClass::StaticFont, "P1:", 400, 80, 110, 14},
};

inline constexpr platform::DialogTemplate kGpioInputDialog{IDD_GPIO_INPUT, 520, 120, 9, kGpioInputControls};

}  // namespace dialogs
