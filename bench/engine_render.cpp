// The whole player as one process: velmora-render (loader, engine, mixer, block
// renderer, PCM conversion and WAV writing) on a busy 20-channel module, pinned to
// one core. Reports how many times faster than real time the render runs.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tools/xmwriter/xm_writer.h"

namespace fs = std::filesystem;

namespace {

// 20 channels, 24 orders of 64-row patterns at speed 6 and tempo 125 (about three
// minutes), a note every other row in every channel. Dense: every instrument loops,
// so all 40 voices of the 20 channels run all the time (the old note of every
// channel goes on silently on the partner voice). Typical: 14 channels play one-shot
// samples (drums, plucks) and 6 play looping instruments.
XmModule busyModule(bool dense) {
    XmModule m;
    m.channelCount = 20;
    m.defaultSpeed = 6;
    m.defaultTempo = 125;
    for (int i = 0; i < 6; ++i) {
        XmInstrument& in = m.instruments.emplace_back();
        XmSample& s = in.samples.emplace_back();
        s.sixteenBit = i % 2 == 0;
        int length = 2000 + 1500 * i;
        for (int k = 0; k < length; ++k) {
            double v = std::sin(k * (0.05 + 0.013 * i)) + 0.3 * std::sin(k * 0.31);
            s.data.push_back(static_cast<int16_t>(v * (s.sixteenBit ? 12000 : 90)));
        }
        s.loop = !dense && i < 4 ? XmLoop::none : i % 3 == 2 ? XmLoop::pingPong : XmLoop::forward;
        s.loopStart = static_cast<uint32_t>(length / 4);
        s.loopLength = static_cast<uint32_t>(length / 2);
        s.volume = 48;
        s.relativeNote = static_cast<int8_t>(i - 3);
        in.volumeEnvelope.points = {{0, 64}, {10, 48}, {40, 40}, {120, 0}};
        in.volumeEnvelope.sustain = 2;
        in.volumeEnvelope.type = xmEnvelopeOn | xmEnvelopeSustain;
        in.panningEnvelope.points = {{0, 16}, {30, 48}, {60, 16}};
        in.panningEnvelope.loopStart = 0;
        in.panningEnvelope.loopEnd = 2;
        in.panningEnvelope.type = xmEnvelopeOn | xmEnvelopeLoop;
        in.vibratoType = static_cast<uint8_t>(i % 4);
        in.vibratoDepth = 4;
        in.vibratoRate = 12;
        in.fadeout = 200;
    }
    const uint8_t effects[][2] = {{0x04, 0x36}, {0x00, 0x47}, {0x0A, 0x02}, {0x03, 0x10},
                                  {0x07, 0x24}, {0x00, 0x00}, {0x19, 0x11}, {0x06, 0x01}};
    for (int p = 0; p < 8; ++p) {
        XmPattern& pattern = m.patterns.emplace_back(xmPattern(64, 20));
        for (int row = 0; row < 64; ++row) {
            for (int c = 0; c < 20; ++c) {
                int k = row + 3 * c + 5 * p;
                XmCell& cell = xmCell(pattern, 20, row, c);
                if ((row + c) % 2 == 0) {
                    cell.note = static_cast<uint8_t>(37 + (k * 5) % 36);
                    cell.instrument = static_cast<uint8_t>(dense    ? 1 + k % 6
                                                           : c < 14 ? 1 + k % 4
                                                                    : 5 + k % 2);
                }
                if (row % 32 == 30) cell.note = 97;
                cell.volume = static_cast<uint8_t>(k % 5 == 0 ? 0x30 + k % 32 : 0);
                cell.effect = effects[k % 8][0];
                cell.parameter = effects[k % 8][1];
            }
        }
    }
    for (int i = 0; i < 24; ++i)
        m.orders.push_back(static_cast<uint8_t>((i * 3) % 8));
    return m;
}

// Processor time (user and system) of the finished child processes so far.
double childCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_RenderBusyModule(benchmark::State& state) {
    std::string pattern = (fs::temp_directory_path() / "velmora-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        state.SkipWithError("no temporary folder");
        return;
    }
    fs::path dir = pattern;
    fs::path input = dir / "busy.xm";
    fs::path output = dir / "busy.wav";
    saveXm(busyModule(state.range(0) != 0), input.string());
    // One core, as the target is stated; taskset is part of util-linux.
    std::string command = "taskset -c 0 " RENDER_TOOL " " + input.string() + " " + output.string() +
                          " >/dev/null 2>&1";
    double audioSeconds = 0;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    for (auto _ : state) {
        double cpuBefore = childCpuSeconds();
        auto start = std::chrono::steady_clock::now();
        int status = std::system(command.c_str());
        auto end = std::chrono::steady_clock::now();
        cpuSeconds += childCpuSeconds() - cpuBefore;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("velmora-render failed");
            break;
        }
        double elapsed = std::chrono::duration<double>(end - start).count();
        state.SetIterationTime(elapsed);
        wallSeconds += elapsed;
        audioSeconds += static_cast<double>(fs::file_size(output) - 44) / (44100.0 * 4);
    }
    if (wallSeconds > 0) {
        state.counters["audio_s"] = audioSeconds / static_cast<double>(state.iterations());
        state.counters["x_realtime"] = audioSeconds / wallSeconds;
        // The process's own processor time: the figure that holds on a busy machine.
        if (cpuSeconds > 0) state.counters["x_realtime_cpu"] = audioSeconds / cpuSeconds;
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_RenderBusyModule)
    ->ArgName("dense")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

} // namespace

BENCHMARK_MAIN();
