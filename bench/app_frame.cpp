// CPU work of one frame as the loop draws it (renderFrame: clear, clock tick, the
// picture sequence, the main effects, the white-out, present) on the recording
// device with its log off, so that the figures leave the driver out.
#include "app/counter_virtual.h"
#include "app/frame_clock.h"
#include "app/shell.h"
#include "gfx/device_record.h"
#include "gfx/display.h"

#include <benchmark/benchmark.h>

// The display is not used: the recording device stands in for it.
void createDisplayDevice(AppWindow*) {}
void releaseDisplayDevice() {}

namespace {

void startPlugins() {
    recordReset();
    recordSetLogging(false);
    setVirtualFrequency(1000000000);
    setVirtualCounter(0);
    initDemoPlugins();
    startFrameClock();
}

void stopPlugins() {
    shutdownDemoPlugins();
    recordReset();
}

// During the opening; the clock stands still, so every iteration draws the same
// moment of the first text line.
void BM_FrameDuringOpening(benchmark::State& state) {
    startPlugins();
    advanceVirtualSeconds(1, 1);
    renderFrame();
    for (auto _ : state)
        renderFrame();
    stopPlugins();
}
BENCHMARK(BM_FrameDuringOpening);

// After the opening: every effect draws, at 60 frames a second.
void BM_FrameMainScene(benchmark::State& state) {
    startPlugins();
    for (int i = 0; i < 8 * 90; ++i) { // 90 s in steps of 1/8 s: the opening is over
        advanceVirtualSeconds(1, 8);
        renderFrame();
    }
    for (auto _ : state) {
        advanceVirtualSeconds(1, 60);
        renderFrame();
    }
    stopPlugins();
}
BENCHMARK(BM_FrameMainScene);

} // namespace

BENCHMARK_MAIN();
