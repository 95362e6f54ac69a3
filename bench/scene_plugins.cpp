// CPU time of one frame of the main scene's background, tube and text column on the
// recording device with its log off, so the figures leave the driver out.
#include "app/frame_clock.h"
#include "app/random.h"
#include "effects/backdrop.h"
#include "effects/text_scroller.h"
#include "effects/tube.h"
#include "gfx/device_record.h"

#include <benchmark/benchmark.h>

namespace {

void beginPlugins() {
    recordReset();
    recordSetLogging(false);
    seedRandom(1);
    initBackdrop();
    initTube();
    initTextScroller();
    deviceBeginScene();
    frameDelta = 1.0f / 60.0f;
}

void endPlugins() {
    deviceEndScene();
    shutdownTextScroller();
    shutdownTube();
    shutdownBackdrop();
    recordReset();
}

void BM_BackdropFrame(benchmark::State& state) {
    beginPlugins();
    for (auto _ : state)
        renderBackdrop();
    endPlugins();
}
BENCHMARK(BM_BackdropFrame);

// The 33 rings rebuilt, each written through its own lock and drawn.
void BM_TubeFrame(benchmark::State& state) {
    beginPlugins();
    for (auto _ : state)
        renderTube();
    endPlugins();
}
BENCHMARK(BM_TubeFrame);

// The text rising at 60 frames a second: a new line every 126 frames or so.
void BM_TextScrollerFrame(benchmark::State& state) {
    beginPlugins();
    for (auto _ : state)
        renderTextScroller();
    endPlugins();
}
BENCHMARK(BM_TextScrollerFrame);

// A frame in which a line enters the window and is laid out.
void BM_TextScrollerLineEntering(benchmark::State& state) {
    beginPlugins();
    frameDelta = 2.1f; // one line height of rise per frame
    for (auto _ : state)
        renderTextScroller();
    endPlugins();
}
BENCHMARK(BM_TextScrollerLineEntering);

void BM_SceneFrame(benchmark::State& state) {
    beginPlugins();
    for (auto _ : state) {
        renderBackdrop();
        renderTube();
        renderTextScroller();
    }
    endPlugins();
}
BENCHMARK(BM_SceneFrame);

} // namespace

BENCHMARK_MAIN();
