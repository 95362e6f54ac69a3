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
    EXPECT_EQ(frequency(4608, 0, linear), 8363);
    EXPECT_EQ(frequency(4608 + 768, 0, linear), 4182);
    EXPECT_EQ(frequency(4608, -120, linear), 7505); // a positive delta raises the pitch
    EXPECT_EQ(frequency(1712, 0, amiga), 8362);     // 14317056 / 1712, truncated
    EXPECT_EQ(frequency(1712, -120, amiga), 8993);

    // Voice steps in 32.32: the 100 Hz floor, a zero Amiga period left alone, and a
    // step that never outgrows the mixer's 8-bit integer part.
    sampleRate = 44100;
    SongChannel c = onVoice(0);
    MixChannel& v = mixChannels[0];
    auto push = [&](int period, const Song& s) {
        c.period = period;
        c.updateFlags = updateFrequency;
        updateVoice(&c, &emptySample, &s);
        return std::pair<int, uint32_t>(v.step, v.stepFraction);
    };
    EXPECT_EQ(push(4608, linear), (std::pair<int, uint32_t>(0, 814485521u)));
    EXPECT_EQ(push(-100, amiga), (std::pair<int, uint32_t>(0, 9739154u)));
    EXPECT_EQ(push(0, amiga), (std::pair<int, uint32_t>(0, 9739154u)));
    EXPECT_EQ(push(1, amiga).first, 255);
    EXPECT_EQ(push(-2000000000, linear).first, 255);
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
    c.vibratoPosition = 16;
    c.vibratoDepth = 15;
    applyVibrato(&c);
    EXPECT_EQ(c.periodDelta, -120);
    c.vibratoPosition = -8;
    c.vibratoDepth = 5;
    applyVibrato(&c);
    EXPECT_EQ(c.periodDelta, 28);
    c.vibratoPosition = 30;
    c.vibratoSpeed = 5;
    advanceVibrato(&c);
    EXPECT_EQ(c.vibratoPosition, -29);

    c.volume = 60; // d = 256 * 5 >> 6 = 20, held to 64 - 60
    c.tremoloPosition = 16;
    c.tremoloDepth = 5;
    c.tremoloSpeed = 8;
    applyTremolo(&c);
    EXPECT_EQ(c.volumeDelta, 4);
    EXPECT_EQ(c.tremoloPosition, 24);
    c.volume = 10;
    c.tremoloPosition = -16;
    applyTremolo(&c);
    EXPECT_EQ(c.volumeDelta, -10);

    c.volume = 50; // tremor x = 1, y = 0: two ticks on, one off
    c.tremorOnTicks = 2;
    c.tremorOffTicks = 1;
    Values tremor;
    for (int i = 0; i < 6; ++i) {
        c.volumeDelta = 0;
        applyTremor(&c);
        tremor.push_back(c.volumeDelta);
    }
    EXPECT_EQ(tremor, Values({0, 0, -50, 0, 0, -50}));

    Instrument in{}; // square auto-vibrato, depth 8, sweep over 4 ticks
    in.vibratoType = 1;
    in.vibratoDepth = 8;
    in.vibratoSweep = 4;
    in.vibratoRate = 200;
    c = onVoice(0);
    Values deltas;
    for (int i = 0; i < 5; ++i) {
        c.periodDelta = 0;
        applyAutoVibrato(&c, &in);
        deltas.push_back(c.periodDelta);
    }
    EXPECT_EQ(deltas, Values({0, -2, -4, 6, 8}));
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
    Song& song = ts.song;
    SongChannel c = onVoice(3);
    c.panning = 255;
    c.updateFlags = updateVolume | updatePanning;
    updateVoice(&c, &emptySample, &song); // 127.5 rounds to even
    EXPECT_EQ(
        Values({mixChannels[3].volume, mixChannels[3].leftVolume, mixChannels[3].rightVolume}),
        Values({128, 128, 0}));
    c.volume = 48; // 95.625
    c.panning = 128;
    updateVoice(&c, &emptySample, &song);
    EXPECT_EQ(
        Values({mixChannels[3].volume, mixChannels[3].leftVolume, mixChannels[3].rightVolume}),
        Values({96, 48, 47}));
    auto pan = [&](int panning, int envelope) {
        c.panning = panning;
        c.panEnvPanning = envelope;
        c.updateFlags = updatePanning;
        updateVoice(&c, &emptySample, &song);
        return mixChannels[3].panning;
    };
    EXPECT_EQ(Values({pan(128, 64), pan(200, 64), pan(200, 0), pan(-40, 0)}),
              Values({255, 232, 168, 0}));

    // Trigger on a sounding voice: the note moves to voice 35 from its start; voice 3
    // keeps its sample, position and current gain with zero targets, to ramp down.
    Sample* s = &ts.sample(0);
    MixChannel& old = mixChannels[3];
    old.sample = s;
    old.position = 500;
    old.currentLeft = 40 * 256;
    old.leftVolume = 40;
    old.startOffset = 2000; // beyond the sample: the new note starts at 0
    c = onVoice(3);
    c.updateFlags = updateTrigger | updateVolume;
    updateVoice(&c, s, &song);
    MixChannel& now = mixChannels[35];
    EXPECT_EQ(c.voice, &now);
    EXPECT_EQ(Values({now.number, int(now.position), now.currentLeft, now.volume, now.direction}),
              Values({35, 0, 0, 128, 1}));
    EXPECT_EQ(old.sample, s);
    EXPECT_EQ(Values({int(old.position), old.currentLeft, old.volume, old.leftVolume}),
              Values({500, 40 * 256, 0, 0}));
    // The mixer glides the old voice down to silence over its ramp.
    setRampLength(128);
    std::vector<float> mix(2 * 128);
    old.stepFraction = 1u << 31;
    mixVoices(mix.data(), 128);
    EXPECT_EQ(old.currentLeft, 0);
    EXPECT_GT(mix[0], 0.0f);

    // Rewind: the current sample from its start, forwards, without a trigger.
    c.voice = &old;
    old.position = 700;
    old.direction = 2;
    c.updateFlags = updateRewind;
    updateVoice(&c, &emptySample, &song);
    EXPECT_EQ(Values({int(old.position), old.direction}), Values({0, 1}));
    EXPECT_EQ(old.sample, s);
}
