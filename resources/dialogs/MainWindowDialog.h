// Layout of the main window (dialog 104): 890 x 530 dialog units, 9-point
// base units, so 1558 x 928 pixels at the reference work area. A 30-pixel
// caption band on top, a 35.5-pixel grey band at the bottom; between them the
// page area with a narrow column on its left for the page and Boot buttons
// (Round, then the register and traffic pages under it; below them the setup
// file and recorder buttons). The recorder's indicator sits in the caption band.
#pragma once

#include "platform/qt/DialogTemplate.h"

namespace dialogs {

inline constexpr int IDD_MAIN = 104;
inline constexpr int IDC_PAGE_HOST = 1000;
inline constexpr int IDC_PAGE_HOST2 = 1001;
inline constexpr int IDC_PAGE_ROUND = 1003;
inline constexpr int IDC_LINK_TEXT = 1004;
inline constexpr int IDC_CLOSE = 1005;
inline constexpr int IDC_LOGO = 1006;
inline constexpr int IDC_STATUS = 1007;
inline constexpr int IDC_MINIMIZE = 1008;
inline constexpr int IDC_MAXIMIZE = 1009;
inline constexpr int IDC_VERSION_TEXT = 1010;
inline constexpr int IDC_PAGE_REGISTERS = 1011;
inline constexpr int IDC_PAGE_TRAFFIC = 1012;
inline constexpr int IDC_SETUP_SAVE = 1013;
inline constexpr int IDC_SETUP_LOAD = 1014;
inline constexpr int IDC_RECORD = 1015;
inline constexpr int IDC_RECORD_INDICATOR = 1016;
inline constexpr int IDC_PAGE_FRAME = 2311;
inline constexpr int IDC_RED_DOT = 2312;
inline constexpr int IDC_GREEN_DOT = 2313;
inline constexpr int IDC_BOOT = 2557;

using platform::ControlClass;
inline constexpr platform::ControlTemplate kMainWindowControls[] = {
    {IDC_PAGE_FRAME, ControlClass::GroupBox, "", 49, 17, 841, 493},
    {IDC_PAGE_HOST, ControlClass::Host, "", 51, 17, 838, 493},
    {IDC_PAGE_HOST2, ControlClass::Host, "", 51, 17, 838, 493, platform::kStyleHidden},
    {IDC_PAGE_ROUND, ControlClass::RectButton, "Round", 4, 26, 42, 22},
    {IDC_PAGE_REGISTERS, ControlClass::RectButton, "Registers", 4, 52, 42, 22},
    {IDC_PAGE_TRAFFIC, ControlClass::RectButton, "Traffic", 4, 78, 42, 22},
    {IDC_SETUP_SAVE, ControlClass::RectButton, "Save setup…", 4, 124, 42, 22},
    {IDC_SETUP_LOAD, ControlClass::RectButton, "Load setup…", 4, 150, 42, 22},
    {IDC_RECORD, ControlClass::RectButton, "Record", 4, 184, 42, 22},
    {IDC_RECORD_INDICATOR, ControlClass::StaticFont, "", 330, 3, 230, 12, platform::kStyleHidden},
    {IDC_BOOT, ControlClass::RectButton, "Boot", 4, 440, 42, 42},
    {IDC_STATUS, ControlClass::StaticFont, "", 60, 494, 560, 13, platform::kStyleHidden},
    {IDC_RED_DOT, ControlClass::Picture, "", 46, 512, 7, 7},
    {IDC_GREEN_DOT, ControlClass::Picture, "", 46, 512, 7, 7, platform::kStyleHidden},
    {IDC_LINK_TEXT, ControlClass::StaticFont, "", 57, 512, 340, 18},
    {IDC_VERSION_TEXT, ControlClass::StaticFont, "", 430, 512, 300, 18},
    {IDC_LOGO, ControlClass::Picture, "", 804, 512, 57, 15},
    {IDC_MINIMIZE, ControlClass::BitmapButton, "Minimize", 821, 5, 7, 7},
    {IDC_MAXIMIZE, ControlClass::BitmapButton, "Maximize", 844, 5, 7, 7},
    {IDC_CLOSE, ControlClass::BitmapButton, "Cancel", 867, 5, 7, 7},
};

inline constexpr platform::DialogTemplate kMainWindowDialog{IDD_MAIN, 890, 530, 9, kMainWindowControls};

}  // namespace dialogs
