// Row ticks: notes, instruments, the volume column, key-off and the tick-0 effects,
// played through advanceSong on songs built in memory.
#include <gtest/gtest.h>

#include "engine_song.h"
#include "music/pitch.h"
#include "music/row_processing.h"

namespace {

constexpr uint8_t C4 = 49, D4 = 51, E4 = 53, C5 = 61;

// Two instruments: 1 at volume 64, 2 at volume 32 an octave up.
TestSong twoInstruments(int channels = 1, bool linear = true) {
    TestSong ts(channels, linear);
    ts.addInstrument(64, 1000);
    ts.addInstrument(32, 1000, 12);
    ts.addPattern(64);
    return ts;
}

} // namespace

TEST(EngineRows, NotesInstrumentsAndTonePortamento) {
    TestSong ts = twoInstruments();
    ts.put(0, 0, 0, C4, 1);
    ts.put(0, 1, 0, 0, 0, 0, effectSetVolume, 0x20);
    ts.put(0, 2, 0, D4, 0);
    ts.put(0, 3, 0, C5, 2, 0, effectTonePorta, 0x10);
    ts.put(0, 4, 0, E4, 0, 0xF2);
    ts.put(0, 5, 0, C4, 2);
    ts.put(0, 6, 0, C4, 5);
    ts.put(0, 7, 0, C4, 1, 0, effectSetVolume, 0x50);
    ts.start();
    Sample* first = &ts.sample(0);

    ts.tick(); // row 0: note and instrument
    EXPECT_EQ(channel(0).volume, 64);
    EXPECT_EQ(channel(0).period, 4608);
    EXPECT_EQ(channel(0).realNote, 48);
    EXPECT_EQ(channel(0).fadeVolume, 65536);
    EXPECT_EQ(channel(0).voice, &mixChannels[0]);
    EXPECT_EQ(mixChannels[0].sample, first);
    EXPECT_EQ(mixChannels[0].frequency, 8363);
    EXPECT_EQ(mixChannels[0].volume, 128);
    EXPECT_EQ(mixChannels[0].leftVolume, 64);
    EXPECT_EQ(mixChannels[0].rightVolume, 63);
    ts.finishRow();

    ts.tick(); // row 1: C20 without a note
    EXPECT_EQ(mixChannels[0].volume, 64);
    EXPECT_EQ(channel(0).voice, &mixChannels[0]);
    ts.finishRow();

    ts.tick(); // row 2: a note alone keeps the volume; the sounding voice is handed over
    EXPECT_EQ(channel(0).volume, 32);
    EXPECT_EQ(channel(0).period, 4480);
    EXPECT_EQ(channel(0).voice, &mixChannels[32]);
    EXPECT_EQ(mixChannels[32].sample, first);
    EXPECT_EQ(mixChannels[0].volume, 0);
    ts.finishRow();

    // Row 3: tone portamento with a new note and instrument. Note and instrument stay,
    // the target comes from C-5 with the old sample (no relative note), the volume is
    // reset from that sample, and the sample is not restarted.
    mixChannels[32].position = 77;
    ts.tick();
    EXPECT_EQ(channel(0).note, D4 - 1);
    EXPECT_EQ(channel(0).instrument, 0);
    EXPECT_EQ(channel(0).portaTarget, 3840);
    EXPECT_EQ(channel(0).period, 4480);
    EXPECT_EQ(channel(0).volume, 64);
    EXPECT_EQ(channel(0).voice, &mixChannels[32]);
    EXPECT_EQ(mixChannels[32].position, 77u);
    ts.tick();
    EXPECT_EQ(channel(0).period, 4416);
    ts.finishRow();
    EXPECT_EQ(channel(0).period, 4480 - 5 * 64);

    ts.tick(); // row 4: volume-column 0xF2 with a note jumps at once but does not restart
    EXPECT_EQ(channel(0).period, 4352);
    EXPECT_EQ(channel(0).portaSpeed, 32);
    EXPECT_EQ(channel(0).portaTarget, 4352);
    EXPECT_EQ(channel(0).voice, &mixChannels[32]);
    EXPECT_EQ(mixChannels[32].position, 77u);
    EXPECT_EQ(mixChannels[32].frequency, 10537);
    ts.finishRow();

    ts.tick(); // row 5: instrument 2 plays an octave up at its own volume
    EXPECT_EQ(channel(0).instrument, 1);
    EXPECT_EQ(channel(0).period, 3840);
    EXPECT_EQ(channel(0).volume, 32);
    EXPECT_EQ(channel(0).voice, &mixChannels[0]);
    EXPECT_EQ(mixChannels[0].sample, &ts.sample(1));
    ts.finishRow();

    ts.tick(); // row 6: an instrument beyond the song's plays the empty sample, silently
    EXPECT_EQ(channel(0).volume, 0);
    EXPECT_EQ(voiceOf(0).sample, &emptySample);
    EXPECT_EQ(voiceOf(0).volume, 0);
    ts.finishRow();

    ts.tick(); // row 7: C above 64 is kept
    EXPECT_EQ(channel(0).volume, 80);
    EXPECT_EQ(voiceOf(0).volume, 159);
}

TEST(EngineRows, VolumeColumnAndPanning) {
    TestSong ts = twoInstruments(2);
    ts.put(0, 0, 0, C4, 1, 0x30); // volume 32
    ts.put(0, 0, 1, C4, 1, 0xC4); // panning 64
    ts.put(0, 1, 0, 0, 0, 0x65);  // slide down 5, tick 0 and later ticks
    ts.put(0, 1, 1, 0, 0, 0xE3);  // panning slide right 3 per tick
    ts.put(0, 2, 0, 0, 0, 0x83);  // fine down 3, tick 0 only
    ts.put(0, 2, 1, 0, 0, 0x9F);  // fine up, at most 64
    ts.put(0, 3, 0, 0, 0, 0xA7);  // vibrato speed
    ts.put(0, 3, 1, 0, 0, 0, effectSetPanning, 0xF0);
    ts.put(0, 4, 0, 0, 0, 0xB8); // vibrato depth: applied on later ticks only
    ts.put(0, 4, 1, 0, 0, 0, effectPanningSlide, 0x0F);
    ts.put(0, 5, 1, 0, 0, 0, effectExtended, 0x8A);
    ts.start();

    ts.tick();
    EXPECT_EQ(channel(0).volume, 32);
    EXPECT_EQ(channel(1).panning, 64);
    EXPECT_EQ(voiceOf(1).panning, 64);
    ts.finishRow();

    ts.tick();
    EXPECT_EQ(channel(0).volume, 27);
    ts.finishRow();
    EXPECT_EQ(channel(0).volume, 2);
    EXPECT_EQ(channel(1).panning, 64 + 6 * 3); // tick 0 and every later tick

    ts.finishRow();
    EXPECT_EQ(channel(0).volume, 0); // 2 - 3 stops at 0, later ticks leave it
    EXPECT_EQ(channel(1).volume, 64);

    ts.finishRow();
    EXPECT_EQ(channel(0).vibratoSpeed, 7);
    EXPECT_EQ(channel(1).panning, 240);

    ts.tick(); // row 4
    EXPECT_EQ(channel(0).vibratoDepth, 8);
    EXPECT_EQ(channel(0).periodDelta, 0);
    ts.tick(); // position 0: sine 0; then advances to 7
    EXPECT_EQ(channel(0).periodDelta, 0);
    EXPECT_EQ(channel(0).vibratoPosition, 7);
    ts.tick(); // 256 |sin(2pi 7/64)| = 162; 162 * 8 >> 5 = 40
    EXPECT_EQ(channel(0).periodDelta, -40);
    ts.finishRow();
    EXPECT_EQ(channel(1).panning, 240 - 5 * 15);

    ts.tick(); // row 5: E8A
    EXPECT_EQ(channel(1).panning, 160);
    EXPECT_EQ(voiceOf(1).panning, 160);
}

TEST(EngineRows, KeyOffEnvelopesAndFadeout) {
    TestSong ts = twoInstruments(3);
    // Instrument 2 gets a sustained volume envelope and a fadeout.
    Instrument& in = ts.instrument(1);
    in.volumeEnvelope[0] = {0, 64};
    in.volumeEnvelope[1] = {2, 32};
    in.volumeEnvelope[2] = {10, 0};
    in.volumePointCount = 3;
    in.volumeSustain = 1;
    in.volumeType = 1 | 2;
    in.fadeout = 4096;
    ts.put(0, 0, 0, C4, 1);
    ts.put(0, 0, 1, C4, 2);
    ts.put(0, 0, 2, C4, 1);
    ts.put(0, 1, 0, 255, 0);                      // key off, no envelope
    ts.put(0, 1, 1, 255, 0);                      // key off, envelope
    ts.put(0, 1, 2, 0, 0, 0, effectKeyOff, 0x05); // K acts on tick 0 whatever its parameter
    ts.put(0, 2, 0, C4, 0);                       // a note alone keeps the released state
    ts.put(0, 3, 0, C4, 1);                       // an instrument restarts everything
    ts.start();

    ts.tick();
    EXPECT_EQ(channel(1).volEnvVolume, 64);
    ts.finishRow();
    EXPECT_EQ(channel(1).volEnvVolume, 32); // held on the sustain point
    EXPECT_EQ(channel(1).volEnvTick, 2);

    ts.tick(); // row 1, tick 0
    EXPECT_EQ(channel(0).keyOff, 1);
    EXPECT_EQ(channel(0).volEnvVolume, 0);
    EXPECT_EQ(voiceOf(0).volume, 0);
    EXPECT_EQ(channel(2).keyOff, 1);
    EXPECT_EQ(voiceOf(2).volume, 0);
    EXPECT_EQ(channel(1).keyOff, 1);
    EXPECT_EQ(channel(1).volEnvVolume, 32); // leaves the sustain point: 32, then falling
    EXPECT_EQ(channel(1).fadeVolume, 65536 - 4096);
    ts.tick();
    EXPECT_EQ(channel(1).volEnvVolume, 28);
    EXPECT_EQ(channel(1).fadeVolume, 65536 - 2 * 4096);
    // 32 * 28 * 57344 * 64 * 255 / 2^35 = 24.4
    EXPECT_EQ(voiceOf(1).volume, 24);
    ts.finishRow();
    EXPECT_EQ(channel(1).fadeVolume, 65536 - 6 * 4096);

    ts.tick(); // row 2: the note without instrument sounds with the released state
    EXPECT_EQ(channel(0).keyOff, 1);
    EXPECT_EQ(voiceOf(0).volume, 0);
    EXPECT_EQ(channel(1).fadeVolume, 65536 - 7 * 4096);
    ts.finishRow();

    ts.tick(); // row 3
    EXPECT_EQ(channel(0).keyOff, 0);
    EXPECT_EQ(channel(0).volEnvVolume, 64);
    EXPECT_EQ(voiceOf(0).volume, 128);
    ts.finishRow();
    // The fadeout ends at silence and stays there.
    ts.ticks(200);
    EXPECT_EQ(channel(1).fadeVolume, 0);
    EXPECT_EQ(voiceOf(1).volume, 0);
}

TEST(EngineRows, SampleOffsetFinetuneAndTremoloCarry) {
    TestSong ts = twoInstruments(2);
    ts.put(0, 0, 0, C4, 1, 0, effectSampleOffset, 0x02); // start at 512
    ts.put(0, 1, 0, 0, 0, 0, effectSampleOffset, 0x01);  // no note: pending in the voice
    ts.put(0, 2, 0, C4, 0);                              // the next trigger starts at 256
    ts.put(0, 3, 0, C4, 0, 0, effectSampleOffset, 0x04); // 1024 beyond 1000: not started
    ts.put(0, 4, 0, 0, 0, 0, effectSampleOffset, 0x05);  // beyond, no note: rewind
    ts.put(0, 5, 0, C4, 1, 0, effectExtended, 0x58);     // finetune for later notes
    ts.put(0, 5, 1, D4, 1);                              // a later channel of the row sees it
    ts.put(0, 6, 1, D4, 1);                              // later note, other channel: changed
    ts.put(0, 7, 0, C4, 1, 0x30, effectTremolo, 0x4F);
    ts.put(0, 8, 0, 0, 0, 0, 0, 0);
    ts.start();

    ts.tick();
    EXPECT_EQ(voiceOf(0).position, 512u);
    EXPECT_EQ(channel(0).sampleOffsetMemory, 2);
    ts.finishRow();

    ts.tick();
    EXPECT_EQ(voiceOf(0).startOffset, 256);
    EXPECT_EQ(voiceOf(0).position, 512u);
    ts.finishRow();

    ts.tick();
    EXPECT_EQ(voiceOf(0).position, 256u);
    EXPECT_EQ(voiceOf(0).startOffset, 0);
    ts.finishRow();

    MixChannel* before = channel(0).voice;
    before->position = 600;
    ts.tick(); // row 3: no trigger, the voice's sample starts again from 0
    EXPECT_EQ(channel(0).voice, before);
    EXPECT_EQ(before->position, 0u);
    EXPECT_EQ(channel(0).period, 4608);
    ts.finishRow();

    before->position = 300;
    ts.tick(); // row 4: also without a note
    EXPECT_EQ(before->position, 0u);
    ts.finishRow();

    ts.tick(); // row 5: E58 changes the shared sample after this row's period was taken
    EXPECT_EQ(ts.sample(0).finetune, 8);
    EXPECT_EQ(channel(0).period, 4608);
    EXPECT_EQ(channel(1).period, 4476); // 7680 - 64 * 50 - 8 / 2
    ts.finishRow();
    ts.tick(); // row 6
    EXPECT_EQ(channel(1).period, 4476);
    ts.finishRow();

    ts.finishRow(); // row 7: tremolo; its last offset stays in the volume afterwards
    int carried = channel(0).volume + channel(0).volumeDelta;
    EXPECT_EQ(carried, 64); // 32 plus the tremolo's last offset, held to 64
    ts.tick();
    EXPECT_EQ(channel(0).volume, carried);
    EXPECT_EQ(channel(0).volumeDelta, 0);
}

TEST(EngineRows, GlobalVolumeEnvelopePositionAndExtraFine) {
    TestSong ts = twoInstruments(2, false);
    Instrument& in = ts.instrument(0);
    in.volumeEnvelope[0] = {0, 64};
    in.volumeEnvelope[1] = {4, 32};
    in.volumeEnvelope[2] = {8, 0};
    in.volumePointCount = 3;
    in.volumeType = 1;
    ts.put(0, 0, 0, C4, 1, 0, effectGlobalVolume, 0x50);
    ts.put(0, 0, 1, C4, 2);
    ts.put(0, 1, 0, 0, 0, 0, effectGlobalVolume, 0x20);
    ts.put(0, 2, 0, 0, 0, 0, effectEnvelopePosition, 6);
    ts.put(0, 3, 0, 0, 0, 0, effectExtraFinePorta, 0x13);
    ts.put(0, 4, 0, 0, 0, 0, effectExtraFinePorta, 0x10); // memory
    ts.put(0, 5, 0, 0, 0, 0, effectExtraFinePorta, 0x25);
    ts.put(0, 6, 0, 0, 0, 0, effectExtended, 0x12); // fine porta up 4 * 2
    ts.put(0, 7, 0, 0, 0, 0, effectExtended, 0x20); // fine porta down from memory (none yet)
    ts.start();

    ts.tick();
    EXPECT_EQ(ts.song.globalVolume, 64);
    EXPECT_EQ(channel(0).period, 1712);
    EXPECT_EQ(voiceOf(0).frequency, 8362);
    ts.finishRow();
    ts.tick();
    EXPECT_EQ(ts.song.globalVolume, 32);
    // Every channel takes the new level on the row tick.
    EXPECT_EQ(voiceOf(1).volume, 32); // 32 * 64 * 65536 * 32 * 255 / 2^35 = 31.9
    ts.finishRow();
    ts.tick(); // L06
    EXPECT_EQ(channel(0).volEnvTick, 6);
    EXPECT_EQ(channel(0).volEnvVolume, 16);
    ts.finishRow();
    ts.tick();
    EXPECT_EQ(channel(0).period, 1709);
    ts.finishRow();
    ts.tick();
    EXPECT_EQ(channel(0).period, 1706);
    ts.finishRow();
    ts.tick();
    EXPECT_EQ(channel(0).period, 1711);
    ts.finishRow();
    ts.tick();
    EXPECT_EQ(channel(0).period, 1703);
    ts.finishRow();
    ts.tick();
    EXPECT_EQ(channel(0).period, 1703);
}
