// velmora-fuzz-seeds: writes the fuzzer's starting modules into a folder, built
// with the XM writer: one module per effect and parameter class, per volume-column
// command, per sample and envelope form, a few odd headers, and some modules of
// random cells. scripts/fuzz adds the embedded module and merges them into the
// committed corpus (libFuzzer keeps only those that reach new code).
//
//   velmora-fuzz-seeds FOLDER
#include "tools/xmwriter/xm_writer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

std::string folder;
int written = 0;

void save(const XmModule& m, const std::string& name) {
    if (!saveXm(m, folder + "/" + name + ".xm")) {
        std::fprintf(stderr, "velmora-fuzz-seeds: cannot write %s/%s.xm\n", folder.c_str(),
                     name.c_str());
        std::exit(1);
    }
    ++written;
}

std::vector<int16_t> wave(int32_t length, int32_t amplitude, int32_t period) {
    std::vector<int16_t> values(static_cast<size_t>(length));
    for (int32_t i = 0; i < length; ++i)
        values[size_t(i)] = int16_t((i % period) * 2 * amplitude / period - amplitude);
    return values;
}

// Three instruments: looped 8-bit and ping-pong 16-bit samples behind envelopes, an
// unlooped sample with auto-vibrato, and one without samples.
void addInstruments(XmModule& m) {
    XmInstrument& a = m.instruments.emplace_back();
    for (size_t n = 0; n < 96; ++n)
        a.sampleMap[n] = n < 48 ? 0 : 1;
    XmSample& s8 = a.samples.emplace_back();
    s8.data = wave(200, 100, 25);
    s8.loop = XmLoop::forward;
    s8.loopStart = 50;
    s8.loopLength = 100;
    XmSample& s16 = a.samples.emplace_back();
    s16.data = wave(300, 20000, 60);
    s16.sixteenBit = true;
    s16.loop = XmLoop::pingPong;
    s16.loopStart = 10;
    s16.loopLength = 280;
    s16.relativeNote = 12;
    s16.finetune = -40;
    a.volumeEnvelope = {{{0, 64}, {4, 40}, {10, 50}, {30, 0}},
                        2,
                        1,
                        2,
                        xmEnvelopeOn | xmEnvelopeSustain | xmEnvelopeLoop,
                        {}};
    a.panningEnvelope = {{{0, 0}, {6, 64}, {12, 32}}, 1, 0, 2, xmEnvelopeOn | xmEnvelopeLoop, {}};
    a.fadeout = 400;

    XmInstrument& b = m.instruments.emplace_back();
    b.sampleMap.fill(0);
    XmSample& once = b.samples.emplace_back();
    once.data = wave(120, 120, 12);
    once.panning = 30;
    b.vibratoType = 2;
    b.vibratoSweep = 8;
    b.vibratoDepth = 6;
    b.vibratoRate = 20;

    m.instruments.emplace_back(); // no samples
}

// Four channels, orders 0 1 0 with a restart at 1; notes on every fourth row, the
// given effect (and volume byte) on the other rows of channels 0 and 1.
XmModule effectModule(uint8_t effect, uint8_t parameter, uint8_t volume, bool linear) {
    XmModule m;
    m.channelCount = 4;
    m.flags = linear ? 1 : 0;
    m.defaultSpeed = 4;
    m.defaultTempo = 140;
    m.orders = {0, 1, 0};
    m.restartPosition = 1;
    for (int32_t p = 0; p < 2; ++p) {
        XmPattern& pattern = m.patterns.emplace_back(xmPattern(16, m.channelCount));
        for (int32_t row = 0; row < 16; ++row) {
            for (int32_t c = 0; c < 2; ++c) {
                XmCell& cell = xmCell(pattern, m.channelCount, row, c);
                if (row % 4 == 0)
                    cell = {uint8_t(25 + 12 * c + row + p * 7), uint8_t(1 + (row / 4) % 3), 0, 0,
                            0};
                if (row % 4 != 0 || c == 1) {
                    cell.effect = effect;
                    cell.parameter = parameter;
                    cell.volume = volume;
                }
            }
            if (row == 10) xmCell(pattern, m.channelCount, row, 2) = {97, 0, 0, 0, 0};
            if (row == 2) xmCell(pattern, m.channelCount, row, 3) = {61, 2, 0x30, 0, 0};
        }
    }
    addInstruments(m);
    return m;
}

void effectSeeds() {
    const uint8_t parameters[] = {0x00, 0x01, 0x0F, 0x10, 0x37, 0x80, 0xF3, 0xFF};
    for (uint8_t effect = 0; effect <= 33; ++effect)
        for (uint8_t parameter : parameters)
            save(effectModule(effect, parameter, 0, effect % 2 == 0),
                 "effect-" + std::to_string(effect) + "-" + std::to_string(parameter));
    // The extended commands E0x..EFx, each with a small and a large argument.
    for (uint8_t sub = 0; sub < 16; ++sub)
        for (uint8_t argument : {uint8_t(1), uint8_t(0xE)})
            save(effectModule(0x0E, uint8_t(sub << 4 | argument), 0, sub % 2 == 1),
                 "extended-" + std::to_string(sub) + "-" + std::to_string(argument));
    // The volume column: plain volumes and each command with two arguments.
    for (uint8_t command = 0x1; command <= 0xF; ++command)
        for (uint8_t argument : {uint8_t(0x0), uint8_t(0x9)})
            save(effectModule(0, 0, uint8_t(command << 4 | argument), command % 2 == 0),
                 "volume-" + std::to_string(command) + "-" + std::to_string(argument));
}

void oddSeeds() {
    XmModule m = effectModule(0, 0, 0, true);
    m.defaultTempo = 32;
    m.defaultSpeed = 31;
    save(m, "slowest");
    m = effectModule(0x0F, 0xFF, 0, true);
    m.defaultTempo = 255;
    m.defaultSpeed = 1;
    save(m, "fastest");
    m = effectModule(0x0B, 0x00, 0, false);
    m.channelCount = 32;
    m.orders.assign(256, 0);
    m.orders[255] = 1;
    save(m, "widest");
    m = effectModule(0x0D, 0x0F, 0, true);
    m.patterns[0].packing = XmPacking::plain;
    m.patterns[1].packing = XmPacking::flagged;
    m.patterns.push_back(xmPattern(256, m.channelCount));
    m.patterns.push_back(xmPattern(1, m.channelCount));
    m.orders = {0, 2, 1, 3, 5};
    save(m, "packings");
    m = effectModule(0x09, 0x40, 0x40, true);
    m.instruments[0].samples[0].lengthBytes = 100000; // data runs past the end of the file
    save(m, "short-data");
    m = effectModule(0x03, 0x08, 0, true);
    m.instruments[0].samples[1].loopStartBytes = 590;
    m.instruments[0].samples[1].loopLengthBytes = 4000;
    m.instruments[1].samples[0].typeByte = 0x13;
    save(m, "loops-out-of-range");
    m = effectModule(0x01, 0x02, 0, true);
    m.instruments[0].volumeEnvelope.pointCount = 40;
    m.instruments[0].volumeEnvelope.sustain = 200;
    m.instruments[0].panningEnvelope.loopEnd = 30;
    m.instruments[0].headerSize = 300;
    save(m, "envelope-indices");
    // Every retrigger volume mode, retriggering within the first rows.
    for (uint8_t mode = 1; mode <= 0xF; ++mode)
        save(effectModule(0x1B, uint8_t(mode << 4 | 2), 0, true),
             "retrigger-mode-" + std::to_string(mode));
    // Voices far above the output rate (hundreds of samples a frame) and sliding up
    // out of range, in both frequency tables.
    for (bool linear : {true, false}) {
        m = effectModule(0x01, 0xFF, 0, linear);
        for (XmSample& sample : m.instruments[0].samples)
            sample.relativeNote = 120;
        m.instruments[1].samples[0].relativeNote = 127;
        save(m, linear ? "highest-linear" : "highest-amiga");
    }
    // A ping-pong loop from the sample's first slot, played fast enough to reflect
    // there within a frame.
    m = effectModule(0x02, 0x01, 0, true);
    m.instruments[0].samples[1].loopStart = 0;
    m.instruments[0].samples[1].loopLength = 3;
    m.instruments[0].samples[1].relativeNote = 60;
    save(m, "pingpong-from-start");
}

// Cells of random bytes over the same instruments: notes, instruments, volume bytes,
// effects and parameters in their whole ranges.
void randomSeeds() {
    std::mt19937 random(20240611);
    for (int32_t k = 0; k < 24; ++k) {
        XmModule m;
        m.channelCount = uint16_t(1 + random() % 12);
        m.flags = uint16_t(random() % 2);
        m.defaultSpeed = uint16_t(1 + random() % 8);
        m.defaultTempo = uint16_t(60 + random() % 160);
        int32_t patterns = 1 + int32_t(random() % 4);
        for (int32_t p = 0; p < patterns; ++p) {
            XmPattern& pattern =
                m.patterns.emplace_back(xmPattern(1 + random() % 40, m.channelCount));
            for (XmCell& cell : pattern.cells) {
                if (random() % 3 != 0) continue;
                cell.note = uint8_t(random() % 98);
                cell.instrument = uint8_t(random() % 5);
                cell.volume = uint8_t(random() % 256);
                cell.effect = uint8_t(random() % 36);
                cell.parameter = uint8_t(random() % 256);
            }
        }
        for (int32_t o = 0; o < 1 + int32_t(random() % 6); ++o)
            m.orders.push_back(uint8_t(random() % patterns));
        addInstruments(m);
        save(m, "random-" + std::to_string(k));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    folder = argv[1];
    effectSeeds();
    oddSeeds();
    randomSeeds();
    std::printf("%d modules written to %s\n", written, folder.c_str());
    return 0;
}
