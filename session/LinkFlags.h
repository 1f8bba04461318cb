// The link flags every page consults: the board's device is present and
// answered the handshake; the board's id matched the chip board chosen.
// The lamp session of the process's board sets them, whether a window
// drives it or a command waits on it; everyone else only reads them.
#pragma once

extern int g_bDevicePresent;
extern int g_bBoardMatched;
