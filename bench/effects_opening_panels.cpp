// CPU time of one frame of the opening, the white-out and the corner panels on the
// recording device with its log off, so the figures leave the driver out.
#include "app/frame_clock.h"
#include "app/random.h"
#include "effects/corner_panels.h"
#include "effects/picture_sequence.h"
#include "gfx/device_record.h"

#include <benchmark/benchmark.h>

namespace {

void beginPlugins() {
    recordReset();
    recordSetLogging(false);
    seedRandom(1);
    initPictureSequence();
    initCornerPanels();
    deviceBeginScene();
}

void endPlugins() {
    deviceEndScene();
    shutdownCornerPanels();
    shutdownPictureSequence();
    recordReset();
}

// The date line: ten scrambled glyph quads zoomed about the centre. Frames of no
// time keep the sequence on that line however many iterations run.
void BM_TextLineFrame(benchmark::State& state) {
    beginPlugins();
    frameDelta = 1.0f / 64.0f;
    renderPictureSequence();
    frameDelta = 0.0f;
    for (auto _ : state)
        benchmark::DoNotOptimize(renderPictureSequence());
    endPlugins();
}
BENCHMARK(BM_TextLineFrame);

void BM_CornerPanelsFrame(benchmark::State& state) {
    beginPlugins();
    frameDelta = 1.0f / 60.0f;
    for (auto _ : state)
        renderCornerPanels();
    endPlugins();
}
BENCHMARK(BM_CornerPanelsFrame);

// The main scene's share of these plugins: the sequence answering 0, the panels
// and the white-out, as the shell calls them once the opening is over.
void BM_MainSceneFrame(benchmark::State& state) {
    beginPlugins();
    frameDelta = 1.0f / 8.0f;
    while (renderPictureSequence() != 0)
        renderWhiteout();
    frameDelta = 1.0f / 60.0f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(renderPictureSequence());
        renderCornerPanels();
        renderWhiteout();
    }
    endPlugins();
}
BENCHMARK(BM_MainSceneFrame);

// The first second of the main scene: the white-out still falling over everything.
void BM_WhiteoutFrame(benchmark::State& state) {
    beginPlugins();
    frameDelta = 1.0f / 8.0f;
    while (renderPictureSequence() != 0)
        renderWhiteout();
    frameDelta = 0.0f;
    for (auto _ : state)
        renderWhiteout();
    endPlugins();
}
BENCHMARK(BM_WhiteoutFrame);

} // namespace

BENCHMARK_MAIN();
