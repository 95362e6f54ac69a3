// The virtual performance counter (library vm_counter_virtual): it stands still
// until the caller sets or advances it. Tests drive the frame clock and the random
// seed with it; the offline capture advances it by exactly one video frame per frame.
// Any thread may read it; set and advance it from one thread.
#pragma once
#include <cstdint>

// Ticks per second reported by counterFrequency (1 000 000 000 until set).
void setVirtualFrequency(uint64_t ticksPerSecond);
// Moves the counter to `ticks`, forgetting any fraction carried by advanceVirtualSeconds.
void setVirtualCounter(uint64_t ticks);
void advanceVirtualCounter(uint64_t ticks);
// Advances by numerator / denominator seconds at the current frequency. The fraction
// of a tick left over is carried, so n calls of 1/60 advance exactly n/60 s (to the
// tick). denominator 0 does nothing.
void advanceVirtualSeconds(uint64_t numerator, uint64_t denominator);
