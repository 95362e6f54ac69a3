// Wave output: one ring of stereo 16-bit frames (left first) played cyclically
// from its start, and a play position in bytes that keeps counting across loops.
// The implementation is chosen at link time: waveout_sdl.cpp (library
// vm_waveout_sdl) plays through SDL2 audio, waveout_winmm.cpp (vm_waveout_winmm)
// through Windows' waveOut, waveout_webaudio.cpp (vm_waveout_webaudio) through Web
// Audio in a browser, and waveout_virtual.cpp (vm_waveout_virtual) has a position
// that the caller moves.
// Threads: the main thread opens, starts, resets and closes; the mixing thread (in
// the browser the main thread's frame loop) reads the position and raises its own
// priority.
#pragma once
#include <cstdint>

// Opens the output for `rate` frames per second, 16-bit stereo. The device stays
// silent until startWaveOutput. False when no output can be opened.
bool openWaveOutput(int32_t rate);

// Starts playing `ring` (`frames` stereo frames) from its start, looping for ever.
// The ring stays the caller's; it must live until resetWaveOutput or closeWaveOutput.
// The position counts from 0 again.
void startWaveOutput(const int16_t* ring, int32_t frames);

// Bytes played since startWaveOutput, counting on across loops (4 bytes a frame).
// 0 when nothing plays.
uint64_t waveOutputPosition();

// Stops playback and lets go of the ring; the output stays open.
void resetWaveOutput();

// Stops playback and releases the output. Harmless when nothing is open.
void closeWaveOutput();

// Raises the calling thread to time-critical priority; false when refused.
bool raiseThreadPriority();
