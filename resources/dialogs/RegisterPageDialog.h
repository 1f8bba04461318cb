// Layout of the register page: 838 x 476 dialog units, 9-point base units,
// shown in the main window's second page host in place of the LED board
// page. A title and a note on top with "Read all" at the right, a status line
// under them, and the table of every register below; the bottom edge is kept
// clear for the main window's status line.
#pragma once

#include "platform/qt/DialogTemplate.h"

namespace dialogs {

inline constexpr int IDD_REGISTERS = 320;
inline constexpr int IDC_REGISTERS_TITLE = 3201;
inline constexpr int IDC_REGISTERS_NOTE = 3202;
inline constexpr int IDC_REGISTERS_READ_ALL = 3203;
inline constexpr int IDC_REGISTERS_STATUS = 3204;
inline constexpr int IDC_REGISTERS_TABLE = 3205;

inline constexpr platform::ControlTemplate kRegisterPageControls[] = {
    {IDC_REGISTERS_TITLE, platform::ControlClass::StaticFont, "Chip registers", 10, 6, 300, 16},
    {IDC_REGISTERS_NOTE, platform::ControlClass::StaticFont,
     "Read: what the chip answered last.  Written: what this program wrote last, from any page.  "
     "Double-click a written value to write a new one.",
     10, 24, 640, 12},
    {IDC_REGISTERS_READ_ALL, platform::ControlClass::RectButton, "Read all", 728, 8, 100, 24},
    {IDC_REGISTERS_STATUS, platform::ControlClass::StaticFont, "", 10, 40, 818, 12},
    {IDC_REGISTERS_TABLE, platform::ControlClass::Host, "", 10, 56, 818, 406},
};

inline constexpr platform::DialogTemplate kRegisterPageDialog{IDD_REGISTERS, 838, 476, 9, kRegisterPageControls};

}  // namespace dialogs
