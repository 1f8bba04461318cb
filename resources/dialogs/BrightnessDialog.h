// Layout of the brightness dial page (dialog 112): 300 x 109 dialog units,
// 9-point base units, clipped to the ellipse that fills it. The dial face,
// the knob and the value are placed by the page from the knob's path; the
// title sits in the left lobe, the percentage in the right one.
#pragma once

#include "platform/qt/DialogTemplate.h"

namespace dialogs {

inline constexpr int IDD_BRIGHTNESS = 112;
inline constexpr int IDC_DIAL_TITLE = 1650;
inline constexpr int IDC_DIAL_FACE = 1651;
inline constexpr int IDC_DIAL_PERCENT_LABEL = 1652;
inline constexpr int IDC_DIAL_PERCENT = 1653;
inline constexpr int IDC_DIAL_CURVE_LABEL = 1654;
inline constexpr int IDC_DIAL_CURVE = 1655;
inline constexpr int IDC_DIAL_VALUE = 1656;
inline constexpr int IDC_DIAL_KNOB = 1657;

using platform::ControlClass;
using platform::kStyleCentered;
using platform::kStyleHidden;
inline constexpr platform::ControlTemplate kBrightnessControls[] = {
    {IDC_DIAL_FACE, ControlClass::Picture, "", 0, 0, 97, 97},
    {IDC_DIAL_VALUE, ControlClass::Edit, "255", 0, 0, 34, 17},
    {IDC_DIAL_KNOB, ControlClass::Picture, "", 0, 0, 8, 8},
    {IDC_DIAL_TITLE, ControlClass::StaticFont, "Set Brightness Value", 12, 46, 94, 12, kStyleCentered},
    {IDC_DIAL_PERCENT_LABEL, ControlClass::StaticFont, "Brightness Percent", 194, 40, 94, 12, kStyleCentered},
    {IDC_DIAL_PERCENT, ControlClass::StaticFont, "100%", 211, 54, 60, 16, kStyleCentered},
    {IDC_DIAL_CURVE_LABEL, ControlClass::Static, "Set Brightness", 12, 80, 60, 12, kStyleHidden},
    {IDC_DIAL_CURVE, ControlClass::ComboBox, "", 12, 92, 60, 14, kStyleHidden},
};

inline constexpr platform::DialogTemplate kBrightnessDialog{IDD_BRIGHTNESS, 300, 109, 9, kBrightnessControls};

}  // namespace dialogs
