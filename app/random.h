// The process-wide random generator: MT19937 seeded by the multiply-by-69069
// recurrence, its tempered output cut to 15 bits. Seeded once at start-up from the
// performance counter; asked before any seeding, it seeds itself from the counter.
// Main thread only (plugin init and render); not locked.
#pragma once
#include <cstdint>

// Restarts the sequence from `seed`.
void seedRandom(uint32_t seed);

// The next number, 0 to 32767.
int32_t nextRandom();
