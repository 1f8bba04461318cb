// Layout of the LED board page (dialog 105): 838 x 493 dialog units, 9-point
// base units. The chip-board buttons run along the top with the I2C settings
// at the right; below them the LED layout on the left, the brightness dial in
// the middle with the current, reset and interrupt controls under it, the
// mode boxes on the right (the pin table takes the dial's place in GPIO mode);
// the blink and fade pages share the bottom row with the two GPIO pages. The
// bottom edge is kept clear for the main window's status line.
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
inline constexpr int IDC_MODE_LED = 2657;
inline constexpr int IDC_MODE_GPIO = 2658;
inline constexpr int IDC_DIR_INPUT = 2659;
inline constexpr int IDC_DIR_OUTPUT = 2660;
inline constexpr int IDC_MODE_LED_LABEL = 2661;
inline constexpr int IDC_MODE_GPIO_LABEL = 2662;
inline constexpr int IDC_DIR_INPUT_LABEL = 2663;
inline constexpr int IDC_DIR_OUTPUT_LABEL = 2664;
inline constexpr int IDC_MODE_GROUP = 2665;
inline constexpr int IDC_DIR_GROUP = 2666;
inline constexpr int IDC_RESET = 2731;
inline constexpr int IDC_RESET_LABEL = 2735;
inline constexpr int IDC_CURRENT_EDIT = 2370;
inline constexpr int IDC_CURRENT_LABEL = 2736;
inline constexpr int IDC_CURRENT_SLIDER = 2734;
inline constexpr int IDC_INTERRUPT = 2770;
inline constexpr int IDC_INTERRUPT_LABEL = 2771;
inline constexpr int IDC_RELATIONSHIP = 2531;
// Beside the indicator: how many interrupts came (red while some were not
// looked at), a button that clears them, and the list of the last ones.
inline constexpr int IDC_INTERRUPT_COUNT = 2790;
inline constexpr int IDC_INTERRUPT_CLEAR = 2791;
inline constexpr int IDC_HOST_INTERRUPT_LOG = 2792;
// Under the mode boxes: which board is attached, and how it is reached.
inline constexpr int IDC_BOARD_GROUP = 2793;
inline constexpr int IDC_BOARD_SUMMARY = 2794;

using platform::ControlClass;
using platform::kStyleHidden;
using platform::kStyleMultiline;
inline constexpr platform::ControlTemplate kRoundPageControls[] = {
    {IDC_FUNCTION_LABEL, ControlClass::Static, "Function", 10, 10, 56, 12},
    {IDC_BOARD_QV6031, ControlClass::RectButton, "QV6031", 70, 6, 70, 20},
    {IDC_BOARD_QV6032, ControlClass::RectButton, "QV6032", 150, 6, 70, 20},
    {IDC_BOARD_QV6033, ControlClass::RectButton, "QV6033", 230, 6, 70, 20},
    {IDC_BOARD_QV6035, ControlClass::RectButton, "QV6035", 310, 6, 70, 20},
    {IDC_BOARD_QV6034, ControlClass::RectButton, "QV6034", 390, 6, 70, 20, kStyleHidden},
    {IDC_I2C_ADDRESS_LABEL, ControlClass::StaticFont, "IIC Address", 560, 10, 60, 12},
    {IDC_I2C_ADDRESS, ControlClass::ComboBox, "", 622, 7, 60, 14},
    {IDC_I2C_SPEED_LABEL, ControlClass::StaticFont, "IIC Speed", 700, 10, 50, 12, kStyleHidden},
    {IDC_I2C_SPEED, ControlClass::ComboBox, "", 752, 7, 60, 14, kStyleHidden},

    {IDC_HOST_LAYOUT, ControlClass::Host, "", 8, 34, 334, 250},
    {IDC_HOST_BRIGHTNESS, ControlClass::Host, "", 348, 34, 310, 112},
    {IDC_RELATIONSHIP, ControlClass::MyStatic, "", 356, 44, 300, 96, kStyleHidden | kStyleMultiline},

    {IDC_CURRENT_LABEL, ControlClass::StaticFont, "Global Max Current", 356, 160, 100, 12},
    {IDC_CURRENT_EDIT, ControlClass::Edit, "40", 460, 158, 24, 14},
    {IDC_CURRENT_SLIDER, ControlClass::Slider, "", 490, 157, 160, 16},
    {IDC_RESET_LABEL, ControlClass::StaticFont, "SoftWareReset", 356, 186, 100, 12},
    {IDC_RESET, ControlClass::BitmapButton, "SoftWareReset", 460, 183, 14, 14},
    {IDC_INTERRUPT_LABEL, ControlClass::StaticFont, "Interrupt Status", 356, 212, 100, 12},
    {IDC_INTERRUPT, ControlClass::BitmapButton, "Interrupt Status", 460, 209, 14, 14},
    {IDC_INTERRUPT_COUNT, ControlClass::StaticFont, "", 482, 212, 108, 12},
    {IDC_INTERRUPT_CLEAR, ControlClass::RectButton, "Clear", 598, 208, 52, 16, kStyleHidden},
    {IDC_HOST_INTERRUPT_LOG, ControlClass::Host, "", 356, 228, 300, 56},

    {IDC_MODE_GROUP, ControlClass::GroupBox, "Mode Select", 666, 34, 162, 46},
    {IDC_MODE_LED, ControlClass::CheckBox, "", 680, 54, 10, 12},
    {IDC_MODE_LED_LABEL, ControlClass::StaticFont, "LED", 692, 54, 40, 12},
    {IDC_MODE_GPIO, ControlClass::CheckBox, "", 748, 54, 10, 12},
    {IDC_MODE_GPIO_LABEL, ControlClass::StaticFont, "GPIO", 760, 54, 40, 12},
    {IDC_DIR_GROUP, ControlClass::GroupBox, "Input/Output", 666, 90, 162, 46},
    {IDC_DIR_INPUT, ControlClass::CheckBox, "", 680, 110, 10, 12},
    {IDC_DIR_INPUT_LABEL, ControlClass::StaticFont, "INPUT", 692, 110, 44, 12},
    {IDC_DIR_OUTPUT, ControlClass::CheckBox, "", 748, 110, 10, 12},
    {IDC_DIR_OUTPUT_LABEL, ControlClass::StaticFont, "OUTPUT", 760, 110, 50, 12},
    {IDC_BOARD_GROUP, ControlClass::GroupBox, "Attached Board", 666, 146, 162, 84},
    {IDC_BOARD_SUMMARY, ControlClass::StaticFont, "", 674, 160, 150, 66, kStyleMultiline},

    {IDC_HOST_FADE, ControlClass::Host, "", 8, 292, 405, 176},
    {IDC_HOST_BLINK, ControlClass::Host, "", 423, 292, 405, 176},
    {IDC_HOST_GPIO_INPUT, ControlClass::Host, "", 8, 292, 820, 176, kStyleHidden},
    {IDC_HOST_GPIO_OUTPUT, ControlClass::Host, "", 8, 292, 820, 176, kStyleHidden},
};

inline constexpr platform::DialogTemplate kRoundPageDialog{IDD_ROUND, 838, 493, 9, kRoundPageControls};

}  // namespace dialogs
