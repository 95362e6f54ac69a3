// Tick processing and song advance: the song's tick handler. Runs on the mixing
// thread (or the playSong caller's thread during the prefill), once per tick.
#pragma once
#include <cstdint>

struct Song;

// One tick: the row tick (pending jump, processRow, where to go next) or the work
// of a later tick, then the tick counter. Installed as the song's tickHandler.
void advanceSong(Song* song);
// The later-tick work of every channel of the current row.
void processTickEffects(Song* song);
// After a row tick: the row a pattern loop sends the song back to from the row
// just processed, or -1 when the song does not go back through a pattern loop.
int32_t patternLoopJumpRow();
