// Frames per second of the main scene as velmora.exe draws it on Windows: the shell's
// own start-up on the Direct3D 8 display (full screen, presentation as the intro
// asks for it), the Win32 window layer and performance counter, the song mixed by its
// thread into the virtual wave output moved on in real time. After a warm-up, every
// measured frame is renderFrame with the real counter's frameDelta. Prints one line:
// frames per second over the whole run, and from the median and the 95th-percentile
// frame time. Meant to run under Wine inside scripts/with-xvfb (bench/windows_fps.sh).
#include "app/counter.h"
#include "app/platform.h"
#include "app/shell.h"
#include "app/window_events.h"
#include "bench/scene_start.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int32_t warmUpFrames = 30;
constexpr int32_t measuredFrames = 400;

// The intro's loop dispatches whatever messages are pending before it draws a frame.
void dispatchPending() {
    WindowEvent event;
    while (pollWindowEvent(&event))
        dispatchWindowEvent(event);
}

double seconds(uint64_t ticks) {
    return double(ticks) / double(counterFrequency());
}

} // namespace

int main() {
    if (!startMainScene()) {
        std::fprintf(stderr, "scene_fps_windows: the opening did not hand over\n");
        fatalExit(nullptr);
    }
    for (int32_t frame = 0; frame < warmUpFrames; ++frame) {
        dispatchPending();
        advanceSceneAudio();
        renderFrame();
    }
    std::vector<double> frameSeconds;
    const uint64_t start = readCounter();
    uint64_t last = start;
    for (int32_t frame = 0; frame < measuredFrames; ++frame) {
        dispatchPending();
        advanceSceneAudio();
        renderFrame();
        const uint64_t now = readCounter();
        frameSeconds.push_back(seconds(now - last));
        last = now;
    }
    const double total = seconds(last - start);
    std::sort(frameSeconds.begin(), frameSeconds.end());
    const double median = frameSeconds[frameSeconds.size() / 2];
    const double slow = frameSeconds[size_t(0.95 * double(frameSeconds.size() - 1) + 0.5)];
    std::printf("main scene (Direct3D 8): %.1f frames per second over %d frames, median %.1f, "
                "95th percentile %.1f\n",
                measuredFrames / total, measuredFrames, 1.0 / median, 1.0 / slow);
    std::fflush(stdout);
    fatalExit(nullptr);
}
