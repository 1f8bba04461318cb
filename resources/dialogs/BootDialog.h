// Layout of the firmware-update dialog (248): 451 x 198 dialog units with the
// 8-point base units. The link to the bootloader on top, the three steps
// (Connect, Open File, DownLoad) in a row, then the file, the progress and
// the transfer messages (two lines), the board it updates at the bottom left,
// and Stop / OK at the bottom right.
#pragma once

#include "platform/qt/DialogTemplate.h"

namespace dialogs {

inline constexpr int IDD_BOOT = 248;
inline constexpr int IDC_BOOT_CONNECT = 2546;
inline constexpr int IDC_BOOT_OPEN = 2547;
inline constexpr int IDC_BOOT_DOWNLOAD = 2548;
inline constexpr int IDC_BOOT_PROGRESS = 2549;
inline constexpr int IDC_BOOT_STOP = 2550;
inline constexpr int IDC_BOOT_OK = 2551;
inline constexpr int IDC_BOOT_STATUS = 2552;
inline constexpr int IDC_BOOT_FILE = 2553;
inline constexpr int IDC_BOOT_MESSAGE = 2554;
inline constexpr int IDC_BOOT_PERCENT = 2555;
inline constexpr int IDC_BOOT_BOARD = 2556;

using platform::ControlClass;
inline constexpr platform::ControlTemplate kBootDialogControls[] = {
    {IDC_BOOT_STATUS, ControlClass::StaticFont, "Not Connect", 20, 12, 410, 16},
    {IDC_BOOT_CONNECT, ControlClass::RectButton, "Connect", 20, 38, 96, 24},
    {IDC_BOOT_OPEN, ControlClass::RectButton, "Open File", 130, 38, 96, 24},
    {IDC_BOOT_DOWNLOAD, ControlClass::RectButton, "DownLoad", 240, 38, 96, 24},
    {IDC_BOOT_FILE, ControlClass::StaticFont, "", 20, 72, 410, 16},
    {IDC_BOOT_PROGRESS, ControlClass::Progress, "", 20, 98, 370, 12},
    {IDC_BOOT_PERCENT, ControlClass::StaticFont, "0%", 396, 96, 34, 16},
    {IDC_BOOT_MESSAGE, ControlClass::StaticFont, "", 20, 116, 410, 30},
    {IDC_BOOT_BOARD, ControlClass::StaticFont, "", 20, 156, 210, 24},
    {IDC_BOOT_STOP, ControlClass::RectButton, "Stop", 240, 152, 90, 32},
    {IDC_BOOT_OK, ControlClass::RectButton, "OK", 340, 152, 90, 32},
};

inline constexpr platform::DialogTemplate kBootDialog{IDD_BOOT, 451, 198, 8, kBootDialogControls};

}  // namespace dialogs
