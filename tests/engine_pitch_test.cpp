// Periods, frequencies, waveforms, envelopes and the channel-to-voice update,
// against values worked out by hand from the formulas.
#include <gtest/gtest.h>

#include "engine_song.h"
#include "music/pitch.h"

namespace {

SongChannel onVoice(int v) {
    SongChannel c{};
    c.voice = &mixChannels[v];
    c.volume = c.volEnvVolume = 64;
    c.fadeVolume = 65536;
    c.panning = 128;
    c.panEnvPanning = 32;
    return c;
}

// The voice's fields after updateVoice with `flags`.
Values pushed(SongChannel& c, uint8_t flags, const Song& song, Sample* sample = &emptySample) {
    c.updateFlags = flags;
    updateVoice(&c, sample, &song);
    const MixChannel& v = *c.voice;
    return {v.volume, v.panning, v.leftVolume, v.rightVolume, v.step, int(v.stepFraction)};
}

} // namespace

TEST(EnginePitch, PeriodsFrequenciesAndSteps) {
    EXPECT_EQ(
        Values({amigaPeriod(48, 0), amigaPeriod(49, 0), amigaPeriod(50, 0), amigaPeriod(60, 0),
                amigaPeriod(48, 64), amigaPeriod(48, -64), amigaPeriod(0, -10)}),
        Values({1712, 1616, 1525, 856, 1664, 1763, 27512}));
    Song linear{}, amiga{};
    linear.flags = 1;
    linear.globalVolume = amiga.globalVolume = 64;
    auto frequency = [](int period, int delta, const Song& s) {
        SongChannel c{};
        c.period = period;
        c.periodDelta = delta;
        return channelFrequency(&c, &s);
    };
    // C-4 plays at 8363 Hz in both modes (Amiga: 8363 * 1712 / 1712); a positive delta
    // raises the pitch in linear mode and lowers it in Amiga mode.
    EXPECT_EQ(Values({frequency(4608, 0, linear), frequency(4608 + 768, 0, linear),
                      frequency(4608, -120, linear), frequency(1712, 0, amiga),
                      frequency(1712, -120, amiga)}),
              Values({8363, 4182, 7505, 8363, 8993}));

    // Voice steps in 32.32: the 100 Hz floor, a zero Amiga period left alone, and a
    // step that never outgrows the mixer's 8-bit integer part.
    sampleRate = 44100;
    SongChannel c = onVoice(0);
    auto step = [&](int period, const Song& s) {
        c.period = period;
        Values v = pushed(c, updateFrequency, s);
        return Values({v[4], v[5]});
    };
    EXPECT_EQ(step(4608, linear), Values({0, 814485521}));
    EXPECT_EQ(step(-100, amiga), Values({0, 9739154}));
    EXPECT_EQ(step(0, amiga), Values({0, 9739154}));
    EXPECT_EQ(step(1, amiga)[0], 255);
    EXPECT_EQ(step(-2000000000, linear)[0], 255);
}

TEST(EnginePitch, WaveformsVibratoTremoloTremor) {
    EXPECT_EQ(Values({waveformValue(16, 0), waveformValue(-8, 0), waveformValue(-32, 0),
                      waveformValue(31, 1), waveformValue(-32, 1), waveformValue(-1, 1),
                      waveformValue(5, 3)}),
              Values({256, 181, 0, 248, 255, 7, 255}));
    EXPECT_EQ(Values({autoVibratoValue(0, 32), autoVibratoValue(0, 192), autoVibratoValue(1, 128),
                      autoVibratoValue(2, 1), autoVibratoValue(2, 128), autoVibratoValue(3, 129),
                      autoVibratoValue(3, 255), autoVibratoValue(4, 64)}),
              Values({45, -64, -64, -1, 64, -64, -1, 0}));

    SongChannel c = onVoice(0);
    auto vibrato = [&](int position, int depth) {
        c.vibratoPosition = static_cast<int8_t>(position);
        c.vibratoDepth = static_cast<uint8_t>(depth);
        applyVibrato(&c);
        return c.periodDelta;
    };
    EXPECT_EQ(Values({vibrato(16, 15), vibrato(-8, 5)}), Values({-120, 28}));
    c.vibratoPosition = 30;
    c.vibratoSpeed = 5;
    advanceVibrato(&c);
    EXPECT_EQ(c.vibratoPosition, -29);

    // d = 256 * 5 >> 6 = 20, held to 64 - 60 above and to the volume below.
    c.tremoloDepth = 5;
    c.tremoloSpeed = 8;
    auto tremolo = [&](int volume, int position) {
        c.volume = volume;
        c.tremoloPosition = static_cast<int8_t>(position);
        applyTremolo(&c);
        return c.volumeDelta;
    };
    EXPECT_EQ(Values({tremolo(60, 16), c.tremoloPosition, tremolo(10, -16)}), Values({4, 24, -10}));

    c.volume = 50; // tremor x = 1, y = 0: two ticks on, one off
    c.tremorOnTicks = 2;
    c.tremorOffTicks = 1;
    Instrument in{}; // square auto-vibrato, depth 8, sweep over 4 ticks
    in.vibratoType = 1;
    in.vibratoDepth = 8;
    in.vibratoSweep = 4;
    in.vibratoRate = 200;
    SongChannel a = onVoice(0);
    Values tremor, deltas;
    for (int i = 0; i < 6; ++i) {
        c.volumeDelta = a.periodDelta = 0;
        applyTremor(&c);
        applyAutoVibrato(&a, &in);
        tremor.push_back(c.volumeDelta);
        deltas.push_back(a.periodDelta);
    }
    EXPECT_EQ(tremor, Values({0, 0, -50, 0, 0, -50}));
    EXPECT_EQ(deltas, Values({0, -2, -4, 6, 8, -8}));
}

TEST(EnginePitch, EnvelopesSustainLoopAndPosition) {
    Instrument in{};
    in.volumeEnvelope[0] = {0, 64};
    in.volumeEnvelope[1] = {4, 32};
    in.volumeEnvelope[2] = {8, 0};
    in.volumePointCount = 3;
    in.volumeType = 1 | 2;
    in.volumeSustain = 1;
    SongChannel c = onVoice(0);
    resetFromSample(&c, &emptySample);
    Values out;
    for (int i = 0; i < 12; ++i) {
        if (i == 6) c.keyOff = 1;
        if (!c.volEnvDone) stepEnvelope(&c, &in, EnvelopeKind::volume);
        out.push_back(c.volEnvVolume);
    }
    EXPECT_EQ(out, Values({64, 56, 48, 40, 32, 32, 32, 24, 16, 8, 0, 0}));
    EXPECT_EQ(c.volEnvDone, 1);

    setVolumeEnvelopePosition(&c, &in, 6); // L06: half way down the second segment
    EXPECT_EQ(Values({c.volEnvPoint, c.volEnvTick, c.volEnvVolume, c.volEnvDone}),
              Values({2, 6, 16, 0}));

    // A loop ending at the last point keeps looping; a sustain on the loop end never holds.
    Instrument loop{};
    loop.panningEnvelope[1] = {2, 64};
    loop.panningEnvelope[2] = {4, 0};
    loop.panningPointCount = 3;
    loop.panningLoopEnd = loop.panningSustain = 2;
    loop.panningType = 1 | 2 | 4;
    resetFromSample(&c, &emptySample);
    out.clear();
    for (int i = 0; i < 9; ++i) {
        stepEnvelope(&c, &loop, EnvelopeKind::panning);
        out.push_back(c.panEnvPanning);
    }
    EXPECT_EQ(out, Values({0, 32, 64, 32, 0, 32, 64, 32, 0}));
}

TEST(EnginePitch, VoiceGainsPanningSwapAndRewind) {
    TestSong ts(1);
    ts.addInstrument();
    ts.start();
    const Song& song = ts.song;
    // Volume 127.5 rounds to even; panning 0 is the left speaker alone, 255 the right
    // alone; 48 gives 95.625. Then the panning envelope: by 4 per unit at the centre,
    // by 1 at 200, limited to 0..255.
    SongChannel c = onVoice(3);
    const struct {
        int volume, panning, envelope;
        Values expected; // volume, panning, left, right
    } gains[] = {{64, 0, 32, {128, 0, 128, 0}},      {64, 255, 32, {128, 255, 0, 128}},
                 {48, 128, 32, {96, 128, 47, 48}},   {64, 128, 64, {128, 255, 0, 128}},
                 {64, 200, 64, {128, 232, 11, 116}}, {64, 200, 0, {128, 168, 43, 84}},
                 {64, -40, 0, {128, 0, 128, 0}}};
    for (const auto& g : gains) {
        c.volume = g.volume;
        c.panning = g.panning;
        c.panEnvPanning = g.envelope;
        Values v = pushed(c, updateVolume | updatePanning, song);
        EXPECT_EQ(Values(v.begin(), v.begin() + 4), g.expected) << g.panning << " " << g.envelope;
    }

    // Trigger on a sounding voice: the note moves to voice 35 from its start; voice 3
    // keeps its sample, position and current gain with zero targets, for the mixer to
    // ramp down.
    Sample* s = &ts.sample(0);
    MixChannel& old = mixChannels[3];
    old.sample = s;
    old.position = 500;
    old.currentLeft = 40 * 256;
    old.leftVolume = 40;
    old.startOffset = 2000; // beyond the sample: the new note starts at 0
    c = onVoice(3);
    pushed(c, updateTrigger | updateVolume, song, s);
    MixChannel& now = mixChannels[35];
    EXPECT_EQ(c.voice, &now);
    EXPECT_EQ(Values({now.number, int(now.position), now.currentLeft, now.volume, now.direction}),
              Values({35, 0, 0, 128, 1}));
    EXPECT_EQ(old.sample, s);
    EXPECT_EQ(Values({int(old.position), old.currentLeft, old.volume, old.leftVolume}),
              Values({500, 40 * 256, 0, 0}));

    // Rewind: the current sample from its start, forwards, without a trigger.
    c.voice = &old;
    old.position = 700;
    old.direction = 2;
    pushed(c, updateRewind, song);
    EXPECT_EQ(Values({int(old.position), old.direction}), Values({0, 1}));
    EXPECT_EQ(old.sample, s);
}
