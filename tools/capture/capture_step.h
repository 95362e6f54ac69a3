// One frame of an offline capture, free of any platform: the intro's start-up is
// prepared for a capture (no mixing thread, the virtual counter at its fixed start),
// and each frame moves the virtual counter and play position on, renders the blocks
// the wave output has finished and composes the frame, ready to be read back and
// presented. Shared by the capture tools of every platform. Main thread only; the
// programs link the virtual counter and the virtual wave output.
#pragma once
#include <cstdint>

// Before startShell: the mixing thread's work is done in step on this thread, and
// the counter runs at `fps` video frames per 65536 ticks from captureCounterStart.
void startCaptureClock(int32_t fps);

// Frames must come in order from 0 on: frame 0 is drawn at the moment the clock
// starts (its delta is 0), every later one one video frame after its predecessor.
// Returns the sound frame (at 44100 Hz) the device has reached at this frame.
int64_t composeCaptureFrame(int64_t frame, int32_t fps);
