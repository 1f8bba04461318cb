// Board-wide state that the LED board page owns but the UI toolkit reads.
#pragma once

// Number of LED cells on the board page. The round buttons scale their
// caption with the layout only for the larger boards (8, 12, 16, 18).
extern int g_ledCount;
