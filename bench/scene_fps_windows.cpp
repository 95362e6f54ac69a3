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

#include <windows.h>

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

// CPU seconds of every thread of the process (the renderer's included; Wine's own
// server and the X server are other processes). Depends far less on other load than
// the frame rate does.
double processCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0;
    auto value = [](const FILETIME& t) {
        return double(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) * 1e-7;
    };
    return value(kernel) + value(user);
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
    const double cpuStart = processCpuSeconds();
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
    const double cpuMs = (processCpuSeconds() - cpuStart) * 1000.0 / measuredFrames;
    std::sort(frameSeconds.begin(), frameSeconds.end());
    const double median = frameSeconds[frameSeconds.size() / 2];
    const double slow = frameSeconds[size_t(0.95 * double(frameSeconds.size() - 1) + 0.5)];
    std::printf("main scene (Direct3D 8): %.1f frames per second over %d frames, median %.1f, "
                "95th percentile %.1f; process CPU %.1f ms a frame\n",
                measuredFrames / total, measuredFrames, 1.0 / median, 1.0 / slow, cpuMs);
    std::fflush(stdout);
    fatalExit(nullptr);
}
