// Periods, frequencies, waveforms, envelopes and the channel-to-voice update,
// checked against values worked out by hand from the formulas.
#include <gtest/gtest.h>

#include "engine_song.h"
#include "music/pitch.h"

namespace {

SongChannel freshChannel() {
    SongChannel c{};
    c.voice = &mixChannels[0];
    return c;
}

Song modeSong(bool linear) {
    Song s{};
    s.flags = linear ? 1 : 0;
    s.globalVolume = 64;
    return s;
}

} // namespace

TEST(EnginePitch, PeriodsAndFrequenciesInBothModes) {
    // The Amiga scale and its finetune branches.
    EXPECT_EQ(amigaPeriod(48, 0), 1712);
    EXPECT_EQ(amigaPeriod(49, 0), 1616);
    EXPECT_EQ(amigaPeriod(50, 0), 1525);
    EXPECT_EQ(amigaPeriod(60, 0), 856);
    EXPECT_EQ(amigaPeriod(48, 64), 1664);  // half way to 1616
    EXPECT_EQ(amigaPeriod(48, -64), 1763); // half way to 1814, truncated
    EXPECT_EQ(amigaPeriod(48, -128), 1814);
    EXPECT_EQ(amigaPeriod(0, -10), 27512); // note 0 takes the upper branch

    sampleRate = 44100;
    Song linear = modeSong(true);
    Song amiga = modeSong(false);
    SongChannel c = freshChannel();
    c.period = 4608;
    EXPECT_EQ(channelFrequency(&c, &linear), 8363);
    c.period = 4608 + 768;
    EXPECT_EQ(channelFrequency(&c, &linear), 4182); // an octave down, rounded
    c.period = 4608;
    c.periodDelta = -120;
    EXPECT_EQ(channelFrequency(&c, &linear), 7505); // a positive delta raises, negative lowers
    c.periodDelta = 64 * 4;
    EXPECT_EQ(channelFrequency(&c, &linear), 10537);
    c.period = 1712;
    c.periodDelta = 0;
    EXPECT_EQ(channelFrequency(&c, &amiga), 8362); // 14317056 / 1712 truncates
    c.periodDelta = -120;
    EXPECT_EQ(channelFrequency(&c, &amiga), 8993);
    c.period = -100;
    c.periodDelta = 0;
    EXPECT_LT(channelFrequency(&c, &amiga), 0);

    // The voice step in 32.32, with the 100 Hz floor for negative Amiga results.
    std::memset(static_cast<void*>(mixChannels), 0, sizeof mixChannels);
    c = freshChannel();
    c.period = 4608;
    c.updateFlags = updateFrequency;
    updateVoice(&c, &emptySample, &linear);
    EXPECT_EQ(mixChannels[0].frequency, 8363);
    EXPECT_EQ(mixChannels[0].step, 0);
    EXPECT_EQ(mixChannels[0].stepFraction, 814485521u);
    c.period = -100;
    c.updateFlags = updateFrequency;
    updateVoice(&c, &emptySample, &amiga);
    EXPECT_LT(mixChannels[0].frequency, 0);
    EXPECT_EQ(mixChannels[0].stepFraction, 9739154u); // 100 Hz
    // A period sum of 0 leaves the frequency alone in Amiga mode.
    c.period = 0;
    c.updateFlags = updateFrequency;
    updateVoice(&c, &emptySample, &amiga);
    EXPECT_EQ(mixChannels[0].stepFraction, 9739154u);
    // Periods far past the top never give a step the mixer cannot represent.
    c.period = 1;
    c.updateFlags = updateFrequency;
    updateVoice(&c, &emptySample, &amiga);
    EXPECT_EQ(mixChannels[0].frequency, 14317056);
    EXPECT_EQ(mixChannels[0].step, 255);
    c.period = -2000000000;
    c.updateFlags = updateFrequency;
    updateVoice(&c, &emptySample, &linear);
    EXPECT_EQ(mixChannels[0].step, 255);
}

TEST(EnginePitch, VibratoTremoloTremorAndPortamento) {
    EXPECT_EQ(waveformValue(16, 0), 256);
    EXPECT_EQ(waveformValue(-16, 0), 256);
    EXPECT_EQ(waveformValue(-8, 0), 181);
    EXPECT_EQ(waveformValue(-32, 0), 0);
    EXPECT_EQ(waveformValue(1, 0), 25);
    EXPECT_EQ(waveformValue(31, 1), 248);
    EXPECT_EQ(waveformValue(-32, 1), 255);
    EXPECT_EQ(waveformValue(-1, 1), 7);
    EXPECT_EQ(waveformValue(5, 2), 255);
    EXPECT_EQ(waveformValue(-5, 3), 255);

    SongChannel c = freshChannel();
    c.vibratoPosition = 16;
    c.vibratoDepth = 15;
    applyVibrato(&c);
    EXPECT_EQ(c.periodDelta, -120);
    EXPECT_EQ(c.updateFlags & updateFrequency, updateFrequency);
    c.vibratoPosition = -8;
    c.vibratoDepth = 5;
    applyVibrato(&c);
    EXPECT_EQ(c.periodDelta, 28);
    c.waveControl = 1; // ramp: 8 * 3 * 15 >> 5 = 11, low bits cleared 8
    c.vibratoPosition = 3;
    c.vibratoDepth = 15;
    applyVibrato(&c);
    EXPECT_EQ(c.periodDelta, -8);
    c.vibratoPosition = 30;
    c.vibratoSpeed = 5;
    advanceVibrato(&c);
    EXPECT_EQ(c.vibratoPosition, -29);

    // Tremolo: 256 * 5 >> 6 = 20, held to 64 - 60.
    c = freshChannel();
    c.volume = 60;
    c.tremoloPosition = 16;
    c.tremoloDepth = 5;
    c.tremoloSpeed = 8;
    applyTremolo(&c);
    EXPECT_EQ(c.volumeDelta, 4);
    EXPECT_EQ(c.tremoloPosition, 24);
    c.volume = 10;
    c.tremoloPosition = -16;
    c.tremoloSpeed = 0;
    applyTremolo(&c);
    EXPECT_EQ(c.volumeDelta, -10); // never below silence
    c.waveControl = 0x30;          // the tremolo's fourth waveform is the sine
    c.volume = 40;
    applyTremolo(&c);
    EXPECT_EQ(c.volumeDelta, -20);

    // Tremor x = 1, y = 0: on for 2 ticks, off for 1.
    c = freshChannel();
    c.volume = 50;
    c.tremorOnTicks = 2;
    c.tremorOffTicks = 1;
    int deltas[6];
    for (int& d : deltas) {
        c.volumeDelta = 0;
        applyTremor(&c);
        d = c.volumeDelta;
    }
    EXPECT_EQ(deltas[0], 0);
    EXPECT_EQ(deltas[1], 0);
    EXPECT_EQ(deltas[2], -50);
    EXPECT_EQ(deltas[3], 0);
    EXPECT_EQ(deltas[5], -50);

    // Tone portamento stops exactly at the target from either side.
    c = freshChannel();
    c.period = 4000;
    c.portaTarget = 4010;
    c.portaSpeed = 2;
    slideToNote(&c);
    EXPECT_EQ(c.period, 4008);
    slideToNote(&c);
    EXPECT_EQ(c.period, 4010);
    c.portaTarget = 4001;
    slideToNote(&c);
    slideToNote(&c);
    EXPECT_EQ(c.period, 4001);
}

TEST(EnginePitch, AutoVibratoWaveformsAndSweep) {
    EXPECT_EQ(autoVibratoValue(0, 0), 0);
    EXPECT_EQ(autoVibratoValue(0, 32), 45);
    EXPECT_EQ(autoVibratoValue(0, 64), 64);
    EXPECT_EQ(autoVibratoValue(0, 192), -64);
    EXPECT_EQ(autoVibratoValue(1, 127), 64);
    EXPECT_EQ(autoVibratoValue(1, 128), -64);
    EXPECT_EQ(autoVibratoValue(2, 0), 0);
    EXPECT_EQ(autoVibratoValue(2, 1), -1);
    EXPECT_EQ(autoVibratoValue(2, 127), -64);
    EXPECT_EQ(autoVibratoValue(2, 128), 64);
    EXPECT_EQ(autoVibratoValue(2, 255), 0);
    EXPECT_EQ(autoVibratoValue(3, 128), 64);
    EXPECT_EQ(autoVibratoValue(3, 129), -64);
    EXPECT_EQ(autoVibratoValue(3, 255), -1);
    EXPECT_EQ(autoVibratoValue(4, 64), 0);

    Instrument in{};
    in.vibratoType = 1; // square: 64 for the first half
    in.vibratoDepth = 8;
    in.vibratoSweep = 4;
    in.vibratoRate = 200;
    SongChannel c = freshChannel();
    int deltas[5];
    for (int& d : deltas) {
        c.periodDelta = 0;
        applyAutoVibrato(&c, &in);
        d = c.periodDelta;
    }
    // 64 * 8 = 512, scaled by sweep count / 4, then >> 6; position 0, 200, 144, 88, 32.
    EXPECT_EQ(deltas[0], 0);
    EXPECT_EQ(deltas[1], -2); // 512 * 1 / 4 = 128 at position 200 (negative half)
    EXPECT_EQ(deltas[2], -4);
    EXPECT_EQ(deltas[3], 6);
    EXPECT_EQ(deltas[4], 8); // the sweep count stops at the sweep
    EXPECT_EQ(c.autoVibratoSweepCount, 4);
    EXPECT_EQ(c.autoVibratoPosition, 232);

    // No auto-vibrato still asks for a frequency update.
    Instrument none{};
    c = freshChannel();
    applyAutoVibrato(&c, &none);
    EXPECT_EQ(c.periodDelta, 0);
    EXPECT_EQ(c.updateFlags, updateFrequency);
}

TEST(EnginePitch, EnvelopesWithSustainLoopAndLastPoint) {
    Instrument in{};
    in.volumeEnvelope[0] = {0, 64};
    in.volumeEnvelope[1] = {4, 32};
    in.volumeEnvelope[2] = {8, 0};
    in.volumePointCount = 3;
    in.volumeType = 1;
    SongChannel c = freshChannel();
    resetFromSample(&c, &emptySample);
    std::vector<int> out;
    for (int i = 0; i < 11; ++i) {
        if (!c.volEnvDone) stepEnvelope(&c, &in, EnvelopeKind::volume);
        out.push_back(c.volEnvVolume);
    }
    EXPECT_EQ(out, (std::vector<int>{64, 56, 48, 40, 32, 24, 16, 8, 0, 0, 0}));
    EXPECT_EQ(c.volEnvDone, 1);

    // Sustain on point 1 holds while the key is down, then continues on the next tick.
    in.volumeType = 1 | 2;
    in.volumeSustain = 1;
    c = freshChannel();
    resetFromSample(&c, &emptySample);
    out.clear();
    for (int i = 0; i < 8; ++i) {
        if (i == 6) c.keyOff = 1;
        stepEnvelope(&c, &in, EnvelopeKind::volume);
        out.push_back(c.volEnvVolume);
    }
    EXPECT_EQ(out, (std::vector<int>{64, 56, 48, 40, 32, 32, 32, 24}));
    EXPECT_EQ(c.updateFlags & updateVolume, updateVolume);

    // A loop ending at the last point keeps looping; the panning envelope the same way.
    Instrument loop{};
    loop.panningEnvelope[0] = {0, 0};
    loop.panningEnvelope[1] = {2, 64};
    loop.panningEnvelope[2] = {4, 0};
    loop.panningPointCount = 3;
    loop.panningLoopStart = 0;
    loop.panningLoopEnd = 2;
    loop.panningType = 1 | 4;
    c = freshChannel();
    resetFromSample(&c, &emptySample);
    c.updateFlags = 0;
    out.clear();
    for (int i = 0; i < 9; ++i) {
        stepEnvelope(&c, &loop, EnvelopeKind::panning);
        out.push_back(c.panEnvPanning);
    }
    EXPECT_EQ(out, (std::vector<int>{0, 32, 64, 32, 0, 32, 64, 32, 0}));
    EXPECT_EQ(c.panEnvDone, 0);
    EXPECT_EQ(c.updateFlags, updatePanning);

    // A sustain point equal to the loop end never holds.
    loop.panningType = 1 | 2 | 4;
    loop.panningSustain = 2;
    c = freshChannel();
    resetFromSample(&c, &emptySample);
    out.clear();
    for (int i = 0; i < 6; ++i) {
        stepEnvelope(&c, &loop, EnvelopeKind::panning);
        out.push_back(c.panEnvPanning);
    }
    EXPECT_EQ(out, (std::vector<int>{0, 32, 64, 32, 0, 32}));

    // Lxx: into the second segment, and beyond the last point.
    c = freshChannel();
    in.volumeType = 1;
    setVolumeEnvelopePosition(&c, &in, 6);
    EXPECT_EQ(c.volEnvPoint, 2);
    EXPECT_EQ(c.volEnvTick, 6);
    EXPECT_EQ(c.volEnvVolume, 16);
    EXPECT_EQ(c.volEnvDone, 0);
    stepEnvelope(&c, &in, EnvelopeKind::volume);
    EXPECT_EQ(c.volEnvVolume, 8);
    setVolumeEnvelopePosition(&c, &in, 200);
    EXPECT_EQ(c.volEnvVolume, 0);
    EXPECT_EQ(c.volEnvDone, 1);

    // Malformed envelopes: values above 64, ticks running backwards, a loop start
    // beyond the points and a point count beyond the stored points stay in range.
    Instrument bad{};
    bad.volumeEnvelope[0] = {0, 60000};
    bad.volumeEnvelope[1] = {10, 0};
    bad.volumeEnvelope[2] = {1, 64};
    bad.volumePointCount = 200;
    bad.volumeLoopEnd = 2;
    bad.volumeLoopStart = 250;
    bad.volumeType = 1 | 4;
    c = freshChannel();
    resetFromSample(&c, &emptySample);
    for (int i = 0; i < 5000; ++i) {
        if (!c.volEnvDone) stepEnvelope(&c, &bad, EnvelopeKind::volume);
        ASSERT_GE(c.volEnvVolume, 0);
        ASSERT_LE(c.volEnvVolume, 64);
    }
    setVolumeEnvelopePosition(&c, &bad, 255);
    EXPECT_LE(c.volEnvVolume, 64);
}

TEST(EnginePitch, VoiceVolumePanningTriggerAndSwap) {
    std::memset(static_cast<void*>(mixChannels), 0, sizeof mixChannels);
    sampleRate = 44100;
    Song song = modeSong(true);
    SongChannel c = freshChannel();
    c.voice = &mixChannels[3];
    c.volume = 64;
    c.volEnvVolume = 64;
    c.fadeVolume = 65536;
    c.panning = 255;
    c.panEnvPanning = 32;
    c.updateFlags = updateVolume | updatePanning;
    updateVoice(&c, &emptySample, &song);
    EXPECT_EQ(mixChannels[3].volume, 128); // 127.5 rounds to even
    EXPECT_EQ(mixChannels[3].panning, 255);
    EXPECT_EQ(mixChannels[3].leftVolume, 128);
    EXPECT_EQ(mixChannels[3].rightVolume, 0);

    c.volume = 3;
    c.panning = 128;
    c.updateFlags = updateVolume | updatePanning;
    updateVoice(&c, &emptySample, &song);
    EXPECT_EQ(mixChannels[3].volume, 6); // 5.977
    EXPECT_EQ(mixChannels[3].leftVolume, 3);
    EXPECT_EQ(mixChannels[3].rightVolume, 2);
    c.volume = 48; // 95.625
    c.volumeDelta = 0;
    c.updateFlags = updateVolume;
    updateVoice(&c, &emptySample, &song);
    EXPECT_EQ(mixChannels[3].volume, 96);
    EXPECT_EQ(mixChannels[3].leftVolume, 48);
    EXPECT_EQ(mixChannels[3].rightVolume, 47);

    // Panning envelope scaled by the distance from the edge.
    c.panEnvPanning = 64;
    c.updateFlags = updatePanning;
    updateVoice(&c, &emptySample, &song);
    EXPECT_EQ(mixChannels[3].panning, 255);
    c.panning = 200;
    updateVoice(&c, &emptySample, &song);
    EXPECT_EQ(mixChannels[3].panning, 232);
    c.panEnvPanning = 0;
    updateVoice(&c, &emptySample, &song);
    EXPECT_EQ(mixChannels[3].panning, 168);
    c.panning = -40; // volume-column slides are not limited; the voice is
    updateVoice(&c, &emptySample, &song);
    EXPECT_EQ(mixChannels[3].panning, 0);

    // Trigger on a silent voice: stays on voice 3, start offset honoured.
    TestSong ts(1);
    ts.addInstrument();
    ts.start();
    std::memset(static_cast<void*>(mixChannels), 0, sizeof mixChannels);
    Sample& s = ts.sample(0);
    c.voice = &mixChannels[3];
    mixChannels[3].startOffset = 256;
    mixChannels[3].currentLeft = 999;
    c.updateFlags = updateTrigger;
    updateVoice(&c, &s, &song);
    EXPECT_EQ(c.voice, &mixChannels[3]);
    EXPECT_EQ(mixChannels[3].sample, &s);
    EXPECT_EQ(mixChannels[3].position, 256u);
    EXPECT_EQ(mixChannels[3].startOffset, 0);
    EXPECT_EQ(mixChannels[3].currentLeft, 0);
    EXPECT_EQ(mixChannels[3].direction, 1);

    // Trigger while it sounds: the note moves to voice 35; voice 3 keeps its sample,
    // position and current gains with zero targets, so the mixer ramps it down.
    mixChannels[3].position = 500;
    mixChannels[3].leftVolume = 40;
    mixChannels[3].rightVolume = 30;
    mixChannels[3].volume = 70;
    mixChannels[3].currentLeft = 40 * 256;
    mixChannels[3].startOffset = 2000; // beyond the sample's end: starts at 0
    c.volume = 64;
    c.panning = 128;
    c.panEnvPanning = 32;
    c.updateFlags = updateTrigger | updateVolume;
    updateVoice(&c, &s, &song);
    EXPECT_EQ(c.voice, &mixChannels[35]);
    EXPECT_EQ(mixChannels[35].number, 35);
    EXPECT_EQ(mixChannels[35].position, 0u);
    EXPECT_EQ(mixChannels[35].currentLeft, 0);
    EXPECT_EQ(mixChannels[35].volume, 128);
    EXPECT_EQ(mixChannels[3].sample, &s);
    EXPECT_EQ(mixChannels[3].position, 500u);
    EXPECT_EQ(mixChannels[3].currentLeft, 40 * 256);
    EXPECT_EQ(mixChannels[3].volume, 0);
    EXPECT_EQ(mixChannels[3].leftVolume, 0);
    EXPECT_EQ(mixChannels[3].rightVolume, 0);
    // ... and back again on the next trigger.
    c.updateFlags = updateTrigger;
    updateVoice(&c, &s, &song);
    EXPECT_EQ(c.voice, &mixChannels[3]);
    EXPECT_EQ(mixChannels[3].number, 3);

    // Rewind restarts the current sample forwards without a trigger.
    mixChannels[3].position = 700;
    mixChannels[3].direction = 2;
    mixChannels[3].startOffset = 512;
    c.updateFlags = updateRewind;
    updateVoice(&c, &s, &song);
    EXPECT_EQ(mixChannels[3].position, 0u);
    EXPECT_EQ(mixChannels[3].startOffset, 0);
    EXPECT_EQ(mixChannels[3].direction, 1);
    EXPECT_EQ(mixChannels[35].sample, &s); // untouched
}
