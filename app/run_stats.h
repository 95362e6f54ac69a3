// Run statistics for long test runs (scripts/soak): with VELMORA_STATS set in the
// environment, the intro prints one line on stderr when it exits, with how well the
// mixing thread kept ahead of the device, how often the song looped and how often
// the text column's quad buffer started over. Main thread only.
#pragma once

// Arranges for the line to be printed at exit when VELMORA_STATS is set.
void enableRunStatsFromEnvironment();
