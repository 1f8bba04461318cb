#include "ui/BoardState.h"

// The board page starts with the six-LED layout until a board says otherwise.
int g_ledCount = 6;
