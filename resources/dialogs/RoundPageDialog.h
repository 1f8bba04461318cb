// Layout of the LED board page (dialog 105): 838 x 493 dialog units, 9-point
// base units. The chip-board buttons run along the top; the I2C settings sit
// at the top right; the sub-page hosts fill the rest: the LED layout on the
// left, the brightness dial beside it, the blink and fade pages below, and
// the two GPIO pages in the same place as blink and fade.
#pragma once

#include "platform/qt/DialogTemplate.h"

namespace dialogs {

inline constexpr int IDD_ROUND = 105;
inline constexpr int IDC_BOARD_QV6031 = 2623;
inline constexpr int IDC_BOARD_QV6032 = 2624;
inline constexpr int IDC_BOARD_QV6033 = 2625;
inline constexpr int IDC_BOARD_QV6034 = 2626;
inline constexpr int IDC_BOARD_QV6035 = 2627;
inline constexpr int IDC_I2C_ADDRESS = 2772;
inline constexpr int IDC_I2C_ADDRESS_LABEL = 2773;
inline constexpr int IDC_I2C_SPEED_LABEL = 2774;
inline constexpr int IDC_I2C_SPEED = 2775;
inline constexpr int IDC_FUNCTION_LABEL = 1222;
inline constexpr int IDC_HOST_LAYOUT = 2233;
inline constexpr int IDC_HOST_BRIGHTNESS = 1236;
inline constexpr int IDC_HOST_FADE = 2764;
inline constexpr int IDC_HOST_BLINK = 2766;
inline constexpr int IDC_HOST_GPIO_INPUT = 2768;
inline constexpr int IDC_HOST_GPIO_OUTPUT = 2769;

using platform::ControlClass;
inline constexpr platform::ControlTemplate kRoundPageControls[] = {
    {IDC_FUNCTION_LABEL, ControlClass::Static, "Function", 10, 10, 56, 12},
    {IDC_BOARD_QV6031, ControlClass::RectButton, "QV6031", 70, 6, 70, 20},
    {IDC_BOARD_QV6032, ControlClass::RectButton, "QV6032", 150, 6, 70, 20},
    {IDC_BOARD_QV6033, ControlClass::RectButton, "QV6033", 230, 6, 70, 20},
    {IDC_BOARD_QV6035, ControlClass::RectButton, "QV6035", 310, 6, 70, 20},
    {IDC_BOARD_QV6034, ControlClass::RectButton, "QV6034", 390, 6, 70, 20, platform::kStyleHidden},
    {IDC_I2C_ADDRESS_LABEL, ControlClass::StaticFont, "IIC Address", 560, 10, 60, 12},
    {IDC_I2C_ADDRESS, ControlClass::ComboBox, "", 622, 7, 60, 14},
    {IDC_I2C_SPEED_LABEL, ControlClass::StaticFont, "IIC Speed", 700, 10, 50, 12, platform::kStyleHidden},
    {IDC_I2C_SPEED, ControlClass::ComboBox, "", 752, 7, 60, 14, platform::kStyleHidden},
    {IDC_HOST_LAYOUT, ControlClass::Host, "", 10, 34, 480, 300},
    {IDC_HOST_BRIGHTNESS, ControlClass::Host, "", 500, 34, 328, 300},
    {IDC_HOST_FADE, ControlClass::Host, "", 10, 342, 405, 145},
    {IDC_HOST_BLINK, ControlClass::Host, "", 423, 342, 405, 145},
    {IDC_HOST_GPIO_INPUT, ControlClass::Host, "", 10, 342, 818, 145, platform::kStyleHidden},
    {IDC_HOST_GPIO_OUTPUT, ControlClass::Host, "", 10, 342, 818, 145, platform::kStyleHidden},
};

inline constexpr platform::DialogTemplate kRoundPageDialog{IDD_ROUND, 838, 493, 9, kRoundPageControls};

}  // namespace dialogs
