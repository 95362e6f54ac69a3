// Instrument synthesis for the intro's module (see music_synth.h). Drums are rendered at a
// fixed rate and played at C-4; tonal sounds are built from whole waveform cycles so that
// their loops close without a seam, with a short unlooped attack whose brightness settles
// into the looped cycle (the "filter envelope" a looped sample cannot have otherwise).
#include "music_synth.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double twoPi = 2 * pi;

// ---- Building blocks ----

// xorshift32 white noise in [-1, 1): fixed seeds keep every render identical.
struct Noise {
    uint32_t state;
    double next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return double(state) / 2147483648.0 - 1.0;
    }
};

// One-pole low-pass; the high-pass is the input minus it.
struct OnePole {
    double a = 0, y = 0;
    OnePole(double cutoff, double rate) : a(1 - std::exp(-twoPi * cutoff / rate)) {}
    double low(double x) { return y += a * (x - y); }
    double high(double x) { return x - low(x); }
};

// The playback rate of a drum sample played at C-4 with this relative note.
double rateForRelativeNote(int relativeNote) {
    return 8363.0 * std::pow(2.0, relativeNote / 12.0);
}

// Scales the signal so that its largest magnitude reaches `peak` of full scale, then rounds
// to 8 or 16 bits.
std::vector<int16_t> quantize(const std::vector<double>& x, bool sixteenBit, double peak = 0.97) {
    double largest = 1e-12;
    for (double v : x)
        largest = std::max(largest, std::fabs(v));
    double full = sixteenBit ? 32767.0 : 127.0;
    double scale = peak * full / largest;
    std::vector<int16_t> out(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        long v = std::lround(x[i] * scale);
        out[i] = int16_t(std::clamp<long>(v, long(-full) - 1, long(full)));
    }
    return out;
}

// A raised-cosine fade over the last `frames` values, ending at exactly zero.
void fadeTail(std::vector<double>& x, size_t frames) {
    frames = std::min(frames, x.size());
    for (size_t i = 0; i < frames; ++i) {
        double g = 0.5 + 0.5 * std::cos(pi * double(i + 1) / double(frames));
        x[x.size() - frames + i] *= g;
    }
}

SynthSample drum(std::vector<double> x, int relativeNote) {
    SynthSample s;
    s.data = quantize(x, false);
    s.relativeNote = int8_t(relativeNote);
    return s;
}

// A tonal sample: `x` holds an unlooped attack of `attack` values followed by a loop of
// `loopLength` values; `cycleLength` samples make one cycle of the fundamental.
SynthSample tonal(const std::vector<double>& x, size_t attack, size_t loopLength,
                  double cycleLength, bool sixteenBit = false) {
    SynthSample s;
    s.data = quantize(x, sixteenBit);
    s.sixteenBit = sixteenBit;
    s.loop = 1;
    s.loopStart = uint32_t(attack);
    s.loopLength = uint32_t(loopLength);
    Tuning t = tuningForPeriod(cycleLength);
    s.relativeNote = t.relativeNote;
    s.finetune = t.finetune;
    s.cycleLength = cycleLength;
    return s;
}

// Band-limited sawtooth harmonic k (1-based) at phase `cycles` (in cycles of the
// fundamental), weighted by a low-pass with a resonant bump at harmonic `cutoff`.
double sawHarmonic(int k, double cycles, double cutoff, double resonance) {
    double lowPass = 1.0 / std::sqrt(1.0 + std::pow(k / cutoff, 4.0));
    double bump = 1.0 + resonance * std::exp(-std::pow((k - cutoff) / 1.5, 2.0));
    double sign = (k & 1) ? 1.0 : -1.0;
    return sign * std::sin(twoPi * k * cycles) / k * lowPass * bump;
}

} // namespace

// ---- Tuning ----

Tuning tuningForPeriod(double cycleLength) {
    // Semitones the sample must be raised so that note 58 plays 440 Hz: the player plays
    // note 58 at 8363 * 2^((9 + relativeNote + finetune / 128) / 12) Hz.
    double semitones = 12.0 * std::log2(440.0 * cycleLength / 8363.0) - 9.0;
    long relative = std::lround(semitones);
    long sixtyFourths = std::lround((semitones - double(relative)) * 64.0);
    return Tuning{int8_t(relative), int8_t(2 * sixtyFourths)};
}

double playedPitch(const SynthSample& sample, int note) {
    int realNote = (note + sample.relativeNote - 1) & 0xFF;
    int period = 7680 - 64 * realNote - sample.finetune / 2;
    double frequency = std::nearbyint(8363.0 * std::pow(2.0, (4608.0 - period) / 768.0));
    return sample.cycleLength > 0 ? frequency / sample.cycleLength : frequency;
}

double concertPitch(int note) {
    return 440.0 * std::pow(2.0, (note - 58) / 12.0);
}

// ---- Drums ----

SynthSample synthKick() {
    const int rel = 12; // 16726 Hz
    const double rate = rateForRelativeNote(rel);
    const size_t n = size_t(0.34 * rate);
    std::vector<double> x(n);
    Noise noise{0x6b1c0e57u};
    OnePole clickFilter(3000, rate);
    double phase = 0;
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / rate;
        double f = 47 + 125 * std::exp(-t / 0.028) + 320 * std::exp(-t / 0.0035);
        double onset = std::min(1.0, t / 0.0004);
        double amp = std::exp(-t / 0.17);
        double click = 0.35 * clickFilter.low(noise.next()) * std::exp(-t / 0.0025);
        x[i] = onset * std::tanh(1.9 * std::sin(phase) * amp + click) / std::tanh(1.9);
        phase += twoPi * f / rate;
    }
    fadeTail(x, size_t(0.05 * rate));
    return drum(std::move(x), rel);
}

SynthSample synthSnare() {
    const int rel = 17; // 22334 Hz
    const double rate = rateForRelativeNote(rel);
    const size_t n = size_t(0.24 * rate);
    std::vector<double> x(n);
    Noise noise{0x2f9a41d3u};
    OnePole high(900, rate), low(9000, rate);
    double p1 = 0, p2 = 0;
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / rate;
        double tone = 0.75 * std::sin(p1) + 0.4 * std::sin(p2);
        tone *= std::exp(-t / 0.045);
        p1 += twoPi * (182 + 70 * std::exp(-t / 0.012)) / rate;
        p2 += twoPi * (331 + 50 * std::exp(-t / 0.010)) / rate;
        double hiss = low.low(high.high(noise.next()));
        double hissAmp = 0.95 * std::exp(-t / 0.055) + 0.14 * std::exp(-t / 0.17);
        x[i] = std::tanh(1.6 * (tone + 1.6 * hiss * hissAmp)) * std::min(1.0, t / 0.0003);
    }
    fadeTail(x, size_t(0.03 * rate));
    return drum(std::move(x), rel);
}

namespace {

// Cymbal-like metal: inharmonic square partials plus white noise, high-passed twice.
struct Metal {
    Noise noise;
    OnePole h1, h2;
    double rate;
    double phase[6] = {};
    double noiseMix;
    Metal(uint32_t seed, double cutoff, double r, double noiseShare)
        : noise{seed}, h1(cutoff, r), h2(cutoff, r), rate(r), noiseMix(noiseShare) {}
    double next() {
        static const double partials[6] = {2960, 4115, 5230, 6215, 7380, 8650};
        double metal = 0;
        for (int k = 0; k < 6; ++k) {
            metal += phase[k] < 0.5 ? 1.0 : -1.0;
            phase[k] += partials[k] / rate;
            phase[k] -= std::floor(phase[k]);
        }
        double v = (1 - noiseMix) * metal / 6 + noiseMix * noise.next();
        return h2.high(h1.high(v));
    }
};

} // namespace

SynthSample synthClosedHat() {
    const int rel = 24; // 33452 Hz
    const double rate = rateForRelativeNote(rel);
    const size_t n = size_t(0.075 * rate);
    std::vector<double> x(n);
    Metal metal(0x51ed270bu, 6500, rate, 0.6);
    for (size_t i = 0; i < n; ++i) {
        double t = double(i) / rate;
        double amp = std::exp(-t / 0.024) + 0.15 * std::exp(-t / 0.06);
        x[i] = metal.next() * amp * std::min(1.0, t / 0.0002);
    }
    fadeTail(x, size_t(0.012 * rate));
    return drum(std::move(x), rel);
}

SynthSample synthOpenHat() {
    // A short accented attack, then steady metal that loops; the instrument's volume
    // envelope shapes the decay.
    const int rel = 24;
    const double rate = rateForRelativeNote(rel);
    const size_t attack = 640, loop = 2560;
    std::vector<double> x(attack + loop);
    Metal metal(0x0badf00du, 6000, rate, 0.55);
    for (size_t i = 0; i < x.size(); ++i) {
        double t = double(i) / rate;
        double accent = i < attack ? 1.0 + 0.6 * std::exp(-t / 0.006) : 1.0;
        x[i] = metal.next() * accent * std::min(1.0, t / 0.0002);
    }
    SynthSample s = drum(std::move(x), rel);
    s.loop = 1;
    s.loopStart = attack;
    s.loopLength = loop;
    return s;
}

SynthSample synthCrash() {
    const int rel = 19; // 25060 Hz
    const double rate = rateForRelativeNote(rel);
    const size_t attack = 1200, loop = 4800;
    std::vector<double> x(attack + loop);
    Metal metal(0x7e57ab1eu, 2800, rate, 0.7);
    for (size_t i = 0; i < x.size(); ++i) {
        double t = double(i) / rate;
        double accent = i < attack ? 1.0 + 0.8 * std::exp(-t / 0.01) : 1.0;
        x[i] = metal.next() * accent * std::min(1.0, t / 0.0003);
    }
    SynthSample s = drum(std::move(x), rel);
    s.loop = 1;
    s.loopStart = attack;
    s.loopLength = loop;
    return s;
}

SynthSample synthSweep() {
    // Soft low-passed noise for risers and wind; pitching it up with a portamento opens it
    // up like a filter. The filters run over the loop twice so the loop holds settled noise.
    const int rel = 12;
    const double rate = rateForRelativeNote(rel);
    const size_t loop = 4096;
    std::vector<double> x(loop);
    Noise noise{0x13579bdfu};
    OnePole l1(1400, rate), l2(1400, rate), h(120, rate);
    for (int pass = 0; pass < 2; ++pass)
        for (size_t i = 0; i < loop; ++i)
            x[i] = h.high(l2.low(l1.low(noise.next())));
    SynthSample s = drum(std::move(x), rel);
    s.loop = 1;
    s.loopStart = 0;
    s.loopLength = uint32_t(loop);
    return s;
}

// ---- Tonal instruments ----

SynthSample synthBass() {
    // Resonant low-passed sawtooth with a sub sine; the cutoff closes from bright to dark
    // over the first cycles.
    const int cycle = 128, attackCycles = 6, harmonics = 40;
    const size_t attack = size_t(attackCycles * cycle);
    std::vector<double> x(attack + cycle);
    for (size_t i = 0; i < x.size(); ++i) {
        double progress = std::min(1.0, double(i) / double(attack));
        double cutoff = 7.0 + 21.0 * (1 - progress) * (1 - progress);
        double cycles = double(i) / cycle;
        double v = 0.45 * std::sin(twoPi * cycles);
        for (int k = 1; k <= harmonics; ++k)
            v += sawHarmonic(k, cycles, cutoff, 0.9);
        x[i] = std::tanh(0.9 * v);
    }
    return tonal(x, attack, cycle, cycle);
}

SynthSample synthPad() {
    // Five detuned band-limited saws whose cycle counts over the loop are whole numbers,
    // so the beating closes exactly at the loop end; random harmonic phases keep the
    // waveform free of spikes.
    const size_t loop = 8000;
    const int centreCycles = 200;
    const int cycles[5] = {197, 199, 200, 201, 203};
    const double level[5] = {0.5, 0.85, 1.0, 0.85, 0.5};
    Noise noise{0x2468ace1u};
    std::vector<double> x(loop, 0.0);
    for (int o = 0; o < 5; ++o) {
        int harmonics = int(0.42 * double(loop) / cycles[o]);
        for (int k = 1; k <= harmonics; ++k) {
            double phase = twoPi * (noise.next() + 1) / 2;
            double amp = level[o] / k / (1.0 + (k / 6.0) * (k / 6.0));
            double w = twoPi * k * cycles[o] / double(loop);
            for (size_t i = 0; i < loop; ++i)
                x[i] += amp * std::sin(w * double(i) + phase);
        }
    }
    return tonal(x, 0, loop, double(loop) / centreCycles);
}

SynthSample synthLead() {
    // Two detuned saw/square oscillators (150 and 151 cycles over the loop, about 11.5
    // cents apart), preceded by a brighter attack that settles into the loop.
    const int cycle = 48, attackCycles = 6;
    const size_t loop = size_t(150 * cycle);
    const size_t attack = size_t(attackCycles * cycle);
    const double length[2] = {double(loop) / 150, double(loop) / 151};
    const double level[2] = {1.0, 0.75};
    std::vector<double> x(attack + loop);
    for (size_t i = 0; i < x.size(); ++i) {
        double progress = std::min(1.0, double(i) / double(attack));
        double cutoff = 10.0 + 10.0 * (1 - progress);
        double v = 0;
        for (int o = 0; o < 2; ++o) {
            double cycles = double(i) / length[o];
            for (int k = 1; k <= 20; ++k) {
                double lowPass = 1.0 / std::sqrt(1.0 + std::pow(k / cutoff, 4.0));
                double saw = ((k & 1) ? 1.0 : -1.0) / k;
                double square = (k & 1) ? 1.0 / k : 0.0;
                v += level[o] * lowPass * (0.6 * saw + 0.5 * square) * std::sin(twoPi * k * cycles);
            }
        }
        x[i] = std::tanh(0.8 * v);
    }
    return tonal(x, attack, loop, double(loop) / 150.5);
}

SynthSample synthPluck() {
    // A plucked string: bright at the attack, losing its upper harmonics cycle by cycle.
    const int cycle = 64, attackCycles = 14, harmonics = 20;
    const size_t attack = size_t(attackCycles * cycle);
    std::vector<double> x(attack + cycle);
    for (size_t i = 0; i < x.size(); ++i) {
        double progress = std::min(1.0, double(i) / double(attack));
        double cutoff = 3.5 + 14.0 * std::pow(1 - progress, 2.5);
        double cycles = double(i) / cycle;
        double v = 0;
        for (int k = 1; k <= harmonics; ++k)
            v += sawHarmonic(k, cycles, cutoff, 0.3);
        x[i] = v;
    }
    return tonal(x, attack, cycle, cycle);
}

SynthSample synthBell() {
    // Two-operator FM at a 7:2 ratio: the modulation index falls from bright to a gentle
    // steady value; one carrier cycle is 32 samples, the loop two of them (seven modulator
    // cycles), so it closes exactly.
    const int cycle = 32;
    const size_t attack = 96 * 32, loop = 2 * cycle;
    std::vector<double> x(attack + loop);
    for (size_t i = 0; i < x.size(); ++i) {
        double progress = std::min(1.0, double(i) / double(attack));
        double index = 0.9 + 2.1 * std::pow(1 - progress, 3.0);
        double c = twoPi * double(i) / cycle;
        double shimmer = 0.18 * std::pow(1 - progress, 6.0) * std::sin(4.5 * c);
        x[i] = std::sin(c + index * std::sin(3.5 * c)) + shimmer;
    }
    return tonal(x, attack, loop, cycle);
}

SynthSample synthChip() {
    // A plain 25 % pulse, unfiltered on purpose: the bright edge of old sound chips.
    const int cycle = 32;
    std::vector<double> x(cycle);
    for (int i = 0; i < cycle; ++i)
        x[size_t(i)] = (i < cycle / 4 ? 1.0 : 0.0) - 0.25;
    return tonal(x, 0, size_t(cycle), cycle);
}

SynthSample synthSub() {
    const int cycle = 64;
    std::vector<double> x(cycle);
    for (int i = 0; i < cycle; ++i) {
        double c = twoPi * i / cycle;
        x[size_t(i)] = std::sin(c) + 0.18 * std::sin(2 * c) + 0.05 * std::sin(3 * c);
    }
    return tonal(x, 0, size_t(cycle), cycle);
}
