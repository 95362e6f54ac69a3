// The virtual wave output: nothing is played; the caller (tests, the offline
// render and capture tools) moves the play position and can read the ring that
// the output side handed over. The position may be moved from any thread; the
// mixing thread reads it.
#pragma once
#include <cstdint>

// Sets or advances the play position, in bytes (4 bytes a stereo frame).
void setVirtualPosition(uint64_t bytes);
void advanceVirtualPosition(uint64_t bytes);

// The ring given to startWaveOutput and its length in frames; null and 0 when
// nothing plays.
const int16_t* virtualRing();
int32_t virtualRingFrames();

// The rate given to the last successful openWaveOutput; 0 while closed.
int32_t virtualOutputRate();
bool virtualOutputOpen();
bool virtualOutputPlaying();

// Makes the next openWaveOutput calls fail (as with no sound card) while set.
void setVirtualOpenFails(bool fails);
// Makes raiseThreadPriority refuse while set (the default grants it).
void setVirtualPriorityRefused(bool refused);
// How often raiseThreadPriority was called since the program started.
int32_t virtualPriorityRequests();
