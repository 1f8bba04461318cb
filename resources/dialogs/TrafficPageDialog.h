// Layout of the traffic page: 838 x 476 dialog units, 9-point base units,
// shown in the main window's second page host in place of the LED board
// page. A title and a note on top with the filter and the Pause, Clear and
// "Save as CSV…" buttons at the right, a line with the counts, and the list
// below; the bottom edge is kept clear for the main window's status line.
#pragma once

#include "platform/qt/DialogTemplate.h"

namespace dialogs {

inline constexpr int IDD_TRAFFIC = 321;
inline constexpr int IDC_TRAFFIC_TITLE = 3301;
inline constexpr int IDC_TRAFFIC_NOTE = 3302;
inline constexpr int IDC_TRAFFIC_FILTER_LABEL = 3303;
inline constexpr int IDC_TRAFFIC_FILTER = 3304;
inline constexpr int IDC_TRAFFIC_PAUSE = 3305;
inline constexpr int IDC_TRAFFIC_CLEAR = 3306;
inline constexpr int IDC_TRAFFIC_SAVE = 3307;
inline constexpr int IDC_TRAFFIC_COUNTS = 3308;
inline constexpr int IDC_TRAFFIC_LIST = 3309;

inline constexpr platform::ControlTemplate kTrafficPageControls[] = {
    {IDC_TRAFFIC_TITLE, platform::ControlClass::StaticFont, "Link traffic", 10, 6, 200, 16},
    {IDC_TRAFFIC_NOTE, platform::ControlClass::StaticFont,
     "Every frame and bootloader record in and out since the start, newest at the bottom.", 10, 24, 400, 12},
    {IDC_TRAFFIC_FILTER_LABEL, platform::ControlClass::StaticFont, "Show", 444, 12, 24, 12},
    {IDC_TRAFFIC_FILTER, platform::ControlClass::ComboBox, "", 470, 10, 96, 14},
    {IDC_TRAFFIC_PAUSE, platform::ControlClass::RectButton, "Pause", 576, 8, 70, 24},
    {IDC_TRAFFIC_CLEAR, platform::ControlClass::RectButton, "Clear", 652, 8, 70, 24},
    {IDC_TRAFFIC_SAVE, platform::ControlClass::RectButton, "Save as CSV\u2026", 728, 8, 100, 24},
    {IDC_TRAFFIC_COUNTS, platform::ControlClass::StaticFont, "", 10, 40, 818, 12},
    {IDC_TRAFFIC_LIST, platform::ControlClass::Host, "", 10, 56, 818, 406},
};

inline constexpr platform::DialogTemplate kTrafficPageDialog{IDD_TRAFFIC, 838, 476, 9, kTrafficPageControls};

}  // namespace dialogs
