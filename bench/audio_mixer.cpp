// Mixer throughput: voice-frames mixed per second with 20 and 64 looping voices at
// unrelated pitches, in block-sized pieces; and the prefill of the whole ring for a
// 20-channel song.
#include "app/memory.h"
#include "audio/mixer.h"
#include "audio/output.h"
#include "audio/waveout_virtual.h"
#include "music/module_source.h"
#include "music/song.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

struct BenchSample {
    std::vector<int16_t> data;
    Sample sample{};
};

// A looping sample of 20000 values; ping-pong when asked, forward otherwise.
BenchSample* makeLoopedSample(bool pingPong) {
    auto* s = new BenchSample;
    const uint32_t length = 20000;
    s->data.resize(length + 8);
    uint32_t noise = 12345;
    for (uint32_t i = 0; i < length; ++i) {
        noise = noise * 1103515245u + 12345u;
        s->data[i] = static_cast<int16_t>(noise >> 16);
    }
    s->sample.data = s->data.data();
    s->sample.length = length;
    s->sample.loopStart = 1000;
    s->sample.loopLength = length - 1000;
    s->sample.loopType = pingPong ? 4 : 2;
    s->sample.bits = 16;
    s->data[length] = pingPong ? s->data[length - 1] : s->data[1000];
    return s;
}

void startVoices(int count, Sample* forward, Sample* pingPong) {
    for (int v = 0; v < mixChannelCount; ++v) {
        mixChannels[v] = MixChannel{};
        mixChannels[v].number = v;
        mixChannels[v].step = 1;
    }
    for (int v = 0; v < count; ++v) {
        MixChannel& c = mixChannels[v];
        c.sample = v % 3 == 2 ? pingPong : forward;
        c.direction = 1;
        c.position = static_cast<uint32_t>(v * 531);
        // Steps between about 0.3 and 2.3, none a simple fraction.
        uint64_t step = (uint64_t(1) << 32) * 3 / 10 + uint64_t(v) * 0x2123'4567ull;
        c.step = static_cast<int32_t>(step >> 32);
        c.stepFraction = static_cast<uint32_t>(step);
        c.leftVolume = 40 + v;
        c.rightVolume = 100 - v / 2;
        c.currentLeft = c.leftVolume * 256;
        c.currentRight = c.rightVolume * 256;
    }
}

void mixLoopingVoices(benchmark::State& state) {
    static BenchSample* forward = makeLoopedSample(false);
    static BenchSample* pingPong = makeLoopedSample(true);
    const int voices = static_cast<int>(state.range(0));
    setRampLength(128);
    startVoices(voices, &forward->sample, &pingPong->sample);
    const int32_t frames = 884;
    std::vector<float> buffer(2 * frames);
    int piece = 0;
    for (auto _ : state) {
        // Every 16th piece a few voices change gain, so ramps are part of the mix.
        if (++piece % 16 == 0)
            for (int v = 0; v < voices; v += 5)
                mixChannels[v].leftVolume ^= 8;
        mixVoices(buffer.data(), frames);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.counters["voice_frames_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * frames * voices, benchmark::Counter::kIsRate);
}
BENCHMARK(mixLoopingVoices)->Arg(20)->Arg(64);

// ---- Prefill ----

BenchSample* prefillSamples[2];

void triggerTwentyVoices(Song* song) {
    // At the first tick: 20 looping voices at different pitches; later ticks only
    // move the gains a little, as a song's volume effects would.
    if (song->tick++ == 0) {
        startVoices(20, &prefillSamples[0]->sample, &prefillSamples[1]->sample);
        return;
    }
    for (int v = 0; v < 20; ++v)
        mixChannels[v].leftVolume = 40 + (v + song->tick) % 50;
}

void prefillRing(benchmark::State& state) {
    prefillSamples[0] = makeLoopedSample(false);
    prefillSamples[1] = makeLoopedSample(true);
    registerFileCallbacks(openModuleFile, closeModuleFile, readModuleFile, seekModuleFile,
                          tellModuleFile);
    setMixingThreadEnabled(false);
    if (!openSoundOutput(44100)) {
        state.SkipWithError("output did not open");
        return;
    }
    Song song{};
    song.tickHandler = triggerTwentyVoices;
    song.defaultTempo = 125;
    song.defaultSpeed = 6;
    song.channelCount = 20;
    for (auto _ : state) {
        state.PauseTiming();
        song.tick = 0;
        state.ResumeTiming();
        playSong(&song); // renders all 100 blocks before returning
        state.PauseTiming();
        stopSong(&song);
        state.ResumeTiming();
    }
    closeSoundOutput();
}
BENCHMARK(prefillRing)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
