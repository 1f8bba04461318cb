// The program's pictures, painted once at first use: no image files to ship
// or lose. Ids are the resource numbers the windows refer to.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace bitmaps {

inline constexpr int IDB_LOGO = 161;
inline constexpr int IDI_APP = 162;
inline constexpr int IDB_GREEN_DOT = 181;
inline constexpr int IDB_RED_DOT = 182;
inline constexpr int IDB_CLOSE = 183;
inline constexpr int IDB_MINIMIZE = 184;
inline constexpr int IDB_MAXIMIZE = 191;
inline constexpr int IDB_RESTORE = 192;
inline constexpr int IDB_RESET = 221;
inline constexpr int IDB_RESET_PRESSED = 222;
inline constexpr int IDB_INTERRUPT_ACTIVE = 296;
inline constexpr int IDB_INTERRUPT_IDLE = 302;

// A null pixmap for an unknown id.
QPixmap Bitmap(int id);
QIcon AppIcon();
// One size of the program's icon; the window's icon and the icons installed
// for the desktop are both drawn by this, so they cannot differ.
QImage AppIconImage(int size);

}  // namespace bitmaps
