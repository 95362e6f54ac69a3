// One engine tick for 32 busy channels: every cell has a note, an instrument with
// volume and panning envelopes and auto-vibrato, and one of the common effects.
#include <benchmark/benchmark.h>

#include "music/row_processing.h"
#include "tests/engine_song.h"

namespace {

TestSong* busySong() {
    static TestSong* ts = [] {
        auto* s = new TestSong(32, true, 6);
        for (int i = 0; i < 4; ++i) {
            Instrument& in =
                s->addInstrument(static_cast<uint8_t>(40 + i * 6), 4000, static_cast<int8_t>(i - 2),
                                 static_cast<int8_t>(i * 9));
            in.volumeEnvelope[0] = {0, 64};
            in.volumeEnvelope[1] = {8, 40};
            in.volumeEnvelope[2] = {30, 50};
            in.volumeEnvelope[3] = {80, 0};
            in.volumePointCount = 4;
            in.volumeSustain = 2;
            in.volumeType = 1 | 2;
            in.panningEnvelope[0] = {0, 32};
            in.panningEnvelope[1] = {10, 60};
            in.panningEnvelope[2] = {20, 4};
            in.panningPointCount = 3;
            in.panningLoopStart = 0;
            in.panningLoopEnd = 2;
            in.panningType = 1 | 4;
            in.vibratoType = static_cast<uint8_t>(i);
            in.vibratoDepth = 6;
            in.vibratoRate = 20;
            in.vibratoSweep = 10;
            in.fadeout = 300;
        }
        s->addPattern(64);
        const uint8_t effects[][2] = {{effectVibrato, 0x46},      {effectTremolo, 0x38},
                                      {effectArpeggio, 0x37},     {effectTonePorta, 0x20},
                                      {effectVolumeSlide, 0x02},  {effectMultiRetrigger, 0x13},
                                      {effectPanningSlide, 0x20}, {effectTremor, 0x21}};
        for (int row = 0; row < 64; ++row) {
            for (int c = 0; c < 32; ++c) {
                int k = row + c;
                uint8_t note = static_cast<uint8_t>(25 + (k * 7) % 48);
                uint8_t volume = static_cast<uint8_t>(k % 3 == 0 ? 0x60 + k % 4 : 0);
                s->put(0, row, c, row % 16 == 15 ? 255 : note, static_cast<uint8_t>(1 + k % 4),
                       volume, effects[k % 8][0], effects[k % 8][1]);
            }
        }
        s->start();
        return s;
    }();
    return ts;
}

void BM_EngineTick32Channels(benchmark::State& state) {
    TestSong* ts = busySong();
    for (auto _ : state) {
        ts->tick();
        benchmark::DoNotOptimize(songChannels[31].voice->frequency);
    }
}
BENCHMARK(BM_EngineTick32Channels);

// Row ticks alone: every channel takes a note, an instrument and an effect.
void BM_EngineRowTick32Channels(benchmark::State& state) {
    TestSong* ts = busySong();
    for (auto _ : state) {
        ts->song.tick = 0;
        ts->tick();
        benchmark::DoNotOptimize(songChannels[31].voice->frequency);
    }
}
BENCHMARK(BM_EngineRowTick32Channels);

} // namespace

BENCHMARK_MAIN();
