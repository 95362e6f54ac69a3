// Frames per second of the main scene as the intro draws it: the shell's own display
// creation (a 640 x 480 window with an OpenGL 2.1 context, the OpenGL device attached),
// vertical sync off, the baseline states and the five plugin inits of initDemoPlugins,
// the song mixed by its thread into the virtual wave output, which is moved along in
// real time. The opening is run through in a few long frames; every measured frame is
// then renderFrame (clear, clock tick, picture sequence, background, tube, text
// column, corner panels, white-out, present) with the real counter's frameDelta.
// Run it under scripts/with-xvfb: Mesa's software renderer does the drawing, so the
// figures are wall-clock time, the renderer's threads included.
#include "app/frame_clock.h"
#include "app/platform.h"
#include "app/shell.h"
#include "app/window_events.h"
#include "bench/scene_start.h"
#include "effects/backdrop.h"
#include "effects/corner_panels.h"
#include "effects/picture_sequence.h"
#include "effects/text_scroller.h"
#include "effects/tube.h"
#include "gfx/device.h"
#include "gfx/device_gl.h"
#include "gfx/display.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t warmUpFrames = 30;
constexpr int32_t measuredFrames = 400;

bool started = false;
bool openingOver = false;

// The shell's start-up with the opening run through, then vertical sync turned off.
void startIntro() {
    if (started) return;
    started = true;
    openingOver = startMainScene();
    SDL_GL_SetSwapInterval(0);
}

void drainEvents() {
    WindowEvent event;
    while (pollWindowEvent(&event))
        dispatchWindowEvent(event);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    if (n == 0) return 0.0;
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// CPU seconds of every thread of the process: the main thread, the mixing thread and
// the software renderer's threads (the X server's own work is not counted).
double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// The value that `share` of the values do not exceed (nearest rank).
double percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(share * double(values.size() - 1) + 0.5);
    return values[rank];
}

// Whole frames of the main scene. "fps" counts frames over the run's wall-clock time;
// "median_fps" is the reciprocal of the median frame time, "p95_fps" that of the
// frame time 95 % of the frames stay within. "process_cpu_ms" is the CPU time of all
// the process's threads per frame, which depends far less on other load.
void BM_MainSceneFps(benchmark::State& state) {
    startIntro();
    if (!openingOver) {
        state.SkipWithError("the opening did not hand over");
        return;
    }
    for (int32_t frame = 0; frame < warmUpFrames; ++frame) {
        advanceSceneAudio();
        renderFrame();
    }
    // The background covers the whole screen: a frame that is mostly black means
    // the scene is not being drawn, and its speed would say nothing.
    composeFrame();
    std::vector<uint8_t> pixels(640 * 480 * 4);
    glDeviceReadPixels(pixels.data());
    devicePresent();
    int32_t dark = 0;
    for (size_t i = 0; i < pixels.size(); i += 4)
        dark += pixels[i] + pixels[i + 1] + pixels[i + 2] < 8;
    if (dark > 640 * 480 / 4) {
        state.SkipWithError("the main scene is not on the screen");
        return;
    }
    std::vector<double> frameSeconds;
    frameSeconds.reserve(measuredFrames);
    Clock::time_point last = Clock::now();
    const double cpuStart = processCpuSeconds();
    for (auto _ : state) {
        advanceSceneAudio();
        renderFrame();
        const Clock::time_point now = Clock::now();
        frameSeconds.push_back(std::chrono::duration<double>(now - last).count());
        last = now;
    }
    const double cpuSeconds = processCpuSeconds() - cpuStart;
    drainEvents();
    state.counters["process_cpu_ms"] = cpuSeconds * 1000.0 / double(state.iterations());
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    const double middle = median(frameSeconds);
    state.counters["median_fps"] = middle > 0 ? 1.0 / middle : 0.0;
    const double slow = percentile(frameSeconds, 0.95);
    state.counters["p95_fps"] = slow > 0 ? 1.0 / slow : 0.0;
}
BENCHMARK(BM_MainSceneFps)
    ->Iterations(measuredFrames)
    ->Repetitions(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Where a frame's time goes: each stage of the frame is finished (glFinish) before
// the next one starts, and the counters give its median milliseconds. The stages run
// one after another, so their sum is slower than the pipelined frame above.
void BM_MainSceneStages(benchmark::State& state) {
    startIntro();
    if (!openingOver) {
        state.SkipWithError("the opening did not hand over");
        return;
    }
    constexpr int32_t stageCount = 8;
    static const char* const names[stageCount] = {"clear_ms",   "backdrop_ms", "tube_ms",
                                                  "text_ms",    "panels_ms",   "whiteout_ms",
                                                  "present_ms", "sequence_ms"};
    std::vector<double> times[stageCount];
    Clock::time_point mark;
    auto stage = [&](int32_t index) {
        glFinish();
        const Clock::time_point now = Clock::now();
        times[index].push_back(std::chrono::duration<double, std::milli>(now - mark).count());
        mark = now;
    };
    for (auto _ : state) {
        advanceSceneAudio();
        mark = Clock::now();
        deviceClear(clearTarget | clearZBuffer, 0x00000000, 1.0f, 0);
        tickFrameClock();
        deviceBeginScene();
        stage(0);
        const int32_t sequence = renderPictureSequence();
        stage(7);
        if (sequence == 0) {
            renderBackdrop();
            stage(1);
            renderTube();
            stage(2);
            renderTextScroller();
            stage(3);
            renderCornerPanels();
            stage(4);
        }
        if (sequence != -1) renderWhiteout();
        deviceEndScene();
        stage(5);
        devicePresent();
        stage(6);
    }
    drainEvents();
    for (int32_t i = 0; i < stageCount; ++i)
        state.counters[names[i]] = median(times[i]);
}
BENCHMARK(BM_MainSceneStages)->Iterations(200)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    startIntro();
    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    benchmark::AddCustomContext("gl_renderer", renderer ? renderer : "unknown");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The shell's teardown: plugins, song, display; ends the process.
    if (started) fatalExit(nullptr);
    return 0;
}
