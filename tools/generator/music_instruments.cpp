// The instruments of the intro's module: synthesised samples (music_synth.cpp) with their
// volume and panning envelopes, fadeouts and auto-vibrato. Envelope x values are ticks
// (27.2 a second at tempo 68), y values 0..64 (panning 32 = centre, lower values left).
#include "music_score.h"
#include "music_synth.h"

#include <string>

namespace {

struct Voice {
    int volume;
    int panning;
};

// Panning as XM counts it: 0 the left speaker, 255 the right; the mix is balanced on 127.
Voice voiceOf(int instrument) {
    switch (instrument) {
    case insKick:
        return {64, 127};
    case insSnare:
        return {56, 121};
    case insBass:
        return {40, 127};
    case insPad:
        return {24, 127};
    case insLead:
        return {34, 143};
    case insPluck:
        return {22, 163};
    case insBell:
        return {24, 105};
    case insChip:
        return {16, 151};
    case insSub:
        return {26, 127};
    case insHat:
        return {36, 103};
    case insOpenHat:
        return {26, 155};
    case insCrash:
        return {32, 127};
    case insSweep:
        return {12, 127};
    default:
        return {0, 127};
    }
}

XmSample toSample(const SynthSample& s, int instrument) {
    XmSample out;
    out.data = s.data;
    out.sixteenBit = s.sixteenBit;
    out.loop = s.loop == 1 ? XmLoop::forward : s.loop == 2 ? XmLoop::pingPong : XmLoop::none;
    out.loopStart = s.loopStart;
    out.loopLength = s.loopLength;
    out.relativeNote = s.relativeNote;
    out.finetune = s.finetune;
    out.volume = uint8_t(voiceOf(instrument).volume);
    out.panning = uint8_t(voiceOf(instrument).panning);
    return out;
}

XmEnvelope envelope(std::vector<XmEnvelopePoint> points, uint8_t type, uint8_t sustain = 0,
                    uint8_t loopStart = 0, uint8_t loopEnd = 0) {
    XmEnvelope e;
    e.points = std::move(points);
    e.type = type;
    e.sustain = sustain;
    e.loopStart = loopStart;
    e.loopEnd = loopEnd;
    return e;
}

XmInstrument instrument(const char* name, const SynthSample& s, int number) {
    XmInstrument ins;
    ins.name = name;
    ins.samples.push_back(toSample(s, number));
    ins.sampleMap.fill(0);
    return ins;
}

// Names of the slots without a sound: a few lines for anyone who opens the module.
const char* const creditLines[] = {
    "",
    "  VELMORA  invitation",
    "  music composed and",
    "  synthesised in code:",
    "  every sound here is",
    "  made of sines, noise",
    "  and arithmetic.",
    "",
    "  D minor, 102 bpm,",
    "  20 channels.",
    "",
    "  see you at the party",
};

} // namespace

int instrumentVolume(int instrument) {
    return voiceOf(instrument).volume;
}
int instrumentPanning(int instrument) {
    return voiceOf(instrument).panning;
}

std::vector<XmInstrument> buildInstruments() {
    std::vector<XmInstrument> list(musicInstrumentSlots);
    constexpr uint8_t on = xmEnvelopeOn, sustain = xmEnvelopeSustain, loop = xmEnvelopeLoop;

    // Drums play their samples to the end; only the cymbals and the hat need envelopes.
    list[insKick - 1] = instrument("kick", synthKick(), insKick);
    list[insSnare - 1] = instrument("snare", synthSnare(), insSnare);
    list[insHat - 1] = instrument("closed hat", synthClosedHat(), insHat);

    XmInstrument& openHat = list[insOpenHat - 1] =
        instrument("open hat", synthOpenHat(), insOpenHat);
    openHat.volumeEnvelope = envelope({{0, 64}, {2, 42}, {5, 22}, {10, 8}, {16, 0}}, on);
    openHat.fadeout = 4096;

    XmInstrument& crash = list[insCrash - 1] = instrument("crash", synthCrash(), insCrash);
    crash.volumeEnvelope = envelope({{0, 64}, {3, 46}, {14, 26}, {40, 12}, {80, 4}, {110, 0}}, on);
    crash.fadeout = 1024;

    // The riser and wind noise holds while the key is down; the effects shape it.
    XmInstrument& sweep = list[insSweep - 1] = instrument("sweep", synthSweep(), insSweep);
    sweep.volumeEnvelope = envelope({{0, 0}, {6, 64}, {20, 0}}, on | sustain, 1);
    sweep.panningEnvelope =
        envelope({{0, 32}, {50, 14}, {100, 32}, {150, 50}, {200, 32}}, on | loop, 0, 0, 4);
    sweep.fadeout = 800;

    XmInstrument& bass = list[insBass - 1] = instrument("bass", synthBass(), insBass);
    bass.volumeEnvelope =
        envelope({{0, 64}, {3, 50}, {10, 42}, {12, 42}, {16, 0}}, on | sustain, 2);
    bass.fadeout = 3072;

    // The pad swells in, drifts between the speakers on a looping panning envelope and
    // fades out slowly after its key is released.
    XmInstrument& pad = list[insPad - 1] = instrument("pad", synthPad(), insPad);
    pad.volumeEnvelope = envelope({{0, 16}, {4, 48}, {12, 64}, {24, 58}, {60, 0}}, on | sustain, 3);
    pad.panningEnvelope =
        envelope({{0, 32}, {40, 22}, {80, 32}, {120, 42}, {160, 32}}, on | loop, 0, 0, 4);
    pad.fadeout = 700;

    // The lead sings with a delayed vibrato that sweeps in over a second.
    XmInstrument& lead = list[insLead - 1] = instrument("lead", synthLead(), insLead);
    lead.volumeEnvelope =
        envelope({{0, 64}, {3, 58}, {10, 52}, {18, 52}, {30, 0}}, on | sustain, 2);
    lead.fadeout = 1400;
    lead.vibratoType = 0;
    lead.vibratoSweep = 28;
    lead.vibratoDepth = 6;
    lead.vibratoRate = 36;

    XmInstrument& pluck = list[insPluck - 1] = instrument("pluck", synthPluck(), insPluck);
    pluck.volumeEnvelope = envelope({{0, 64}, {2, 44}, {6, 24}, {14, 10}, {28, 0}}, on);
    pluck.fadeout = 2048;

    XmInstrument& bell = list[insBell - 1] = instrument("bell", synthBell(), insBell);
    bell.volumeEnvelope = envelope({{0, 64}, {4, 46}, {16, 28}, {40, 12}, {80, 0}}, on);
    bell.fadeout = 1024;
    bell.vibratoType = 0;
    bell.vibratoDepth = 2;
    bell.vibratoRate = 20;

    // The chip voice flutters: its envelope loops between two levels while it sounds.
    XmInstrument& chip = list[insChip - 1] = instrument("chip", synthChip(), insChip);
    chip.volumeEnvelope = envelope({{0, 64}, {2, 48}, {4, 38}, {6, 48}}, on | loop, 0, 1, 3);
    chip.fadeout = 2400;

    XmInstrument& sub = list[insSub - 1] = instrument("sub", synthSub(), insSub);
    sub.volumeEnvelope = envelope({{0, 24}, {6, 64}, {30, 0}}, on | sustain, 1);
    sub.fadeout = 600;

    size_t line = 0;
    for (int i = 0; i < musicInstrumentSlots; ++i) {
        XmInstrument& ins = list[size_t(i)];
        if (!ins.samples.empty() || i < insSnare) continue;
        const size_t lines = sizeof creditLines / sizeof creditLines[0];
        ins.name = line < lines ? creditLines[line] : "";
        ++line;
    }
    return list;
}
