// Frame clock: turns the performance counter (app/counter.h) into frameDelta, the
// seconds of the current frame. Time is handed out in 16.16 fixed-point seconds, so
// every frameDelta is a whole multiple of 1/65536 s; the counter ticks too few to make
// up a quantum stay unconsumed and count towards the next frame.
// Main thread only.
#pragma once

// Seconds of the current frame; 0 before the first tick. Read by the effects.
extern float frameDelta;

// Reads the counter's rate and position and sets frameDelta to 0. Called once,
// right before the loop.
void startFrameClock();

// Called once per frame, before any effect renders: frameDelta becomes the time
// since the ticks consumed so far.
void tickFrameClock();
