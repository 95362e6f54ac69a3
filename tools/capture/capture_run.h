// The offline capture: the intro's own start-up, plugins, display device and sound,
// run without a screen (SDL's offscreen video driver) and without real time. The
// virtual performance counter advances by exactly one video frame per frame, the
// virtual wave output's play position by that frame's share of 44100 Hz, and the
// mixing thread's work is done in step on this thread, so two captures of the
// same length give the same pictures and the same sound.
// Everything runs on the main thread; there is no mixing thread.
#pragma once
#include "tools/capture/capture_options.h"

#include <cstdint>
#include <string>

// What an in-process user (a test) may watch while a capture runs. Null members
// are not called.
struct CaptureWatch {
    // Every frame's 640 x 480 RGBA picture (top row first), once drawn.
    void (*frame)(int64_t frame, const uint8_t* rgba640x480, void* context) = nullptr;
    // The stereo 16-bit sound that plays while frame `frame` is shown: `count`
    // frames from sound frame `firstSoundFrame` on.
    void (*sound)(int64_t frame, int64_t firstSoundFrame, const int16_t* stereo, int64_t count,
                  void* context) = nullptr;
    void* context = nullptr;
};

// Brings the intro up for a capture at `fps`: offscreen video, the virtual counter
// at its fixed start, no mixing thread; then the shell's own start-up. Once per
// process. A display that cannot be had ends the process through the shell.
void startCaptureShell(int32_t fps);

// Draws the capture's frames and writes what `options` asks for (none: nothing)
// through a staging folder. Returns "" when everything has been written; otherwise
// one line saying what went wrong, with every file of this capture removed again.
// `progress` shows a progress bar on stderr.
std::string runCapture(const CaptureOptions& options, const CaptureWatch* watch, bool progress);

// Asks a running capture to stop and fail (from a signal handler).
void requestCaptureStop();
