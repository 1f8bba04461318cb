#include "session/LinkFlags.h"

int g_bDevicePresent = 0;
int g_bBoardMatched = 0;
