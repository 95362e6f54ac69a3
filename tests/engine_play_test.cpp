// Songs built in memory played through advanceSong: the row tick's notes, volume
// column and effects, the later ticks, and the movement through rows and orders.
#include <gtest/gtest.h>

#include "audio/waveout_virtual.h"
#include "engine_song.h"
#include "music/pitch.h"
#include "music/row_processing.h"
#include "music/tick_processing.h"
#include "music_loader_support.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr uint8_t C4 = 49, D4 = 51, E4 = 53, C5 = 61;

// The (order, row) each of `rows` row ticks processed, as order * 100 + row.
Values visit(TestSong& ts, int rows) {
    Values seen;
    for (int i = 0; i < rows; ++i) {
        ts.tick();
        seen.push_back(ts.song.orderPosition * 100 + ts.song.row);
        while (ts.song.tick != 0)
            ts.tick();
    }
    return seen;
}

// The ring after playSong: the song's first two seconds as the player prefills them.
std::vector<int16_t> prefill(Song* song) {
    if (!playSong(song)) return {};
    return std::vector<int16_t>(virtualRing(), virtualRing() + 2 * size_t(ringFrames));
}

// C-4 on a looping square wave of amplitude `level` at sample panning `panning` in
// channel 0 and, with two channels, from row 4 (half a second in) in channel 1.
XmModule squareNotes(int channels, int level, uint8_t panning = 128) {
    XmModule m = loadertest::tinyModule(channels);
    m.patterns[0] = xmPattern(64, channels);
    xmCell(m.patterns[0], channels, 0, 0) = {C4, 1, 0, 0, 0};
    if (channels == 2) xmCell(m.patterns[0], 2, 4, 1) = {C4, 1, 0, 0, 0};
    XmSample& s = m.instruments.emplace_back().samples.emplace_back();
    for (int i = 0; i < 64; ++i)
        s.data.push_back(static_cast<int16_t>(i < 32 ? level : -level));
    s.loop = XmLoop::forward;
    s.loopLength = 64;
    s.panning = panning;
    return m;
}

} // namespace

TEST(EnginePlay, NotesPortamentoAndVolumeColumn) {
    TestSong ts(2);
    ts.addInstrument(64);
    ts.addInstrument(32, 1000, 12);
    ts.addPattern(16);
    ts.put(0, 0, 0, C4, 1, 0, effectSampleOffset, 0x02);
    ts.put(0, 1, 0, D4, 0, 0, effectSetVolume, 0x50); // a note alone keeps C's volume
    ts.put(0, 2, 0, C5, 2, 0, effectTonePorta, 0x10);
    ts.put(0, 3, 0, E4, 0, 0xF2);
    ts.put(0, 4, 0, C4, 0, 0, effectSampleOffset, 0x04); // 1024 beyond the sample: rewind
    ts.put(0, 5, 0, C4, 1, 0, effectExtended, 0x58);
    ts.put(0, 5, 1, D4, 1, 0x65); // a later channel of the row already sees E58
    ts.put(0, 6, 1, 0, 0, 0x83);
    ts.put(0, 6, 0, 0, 0, 0, effectSampleOffset, 0x01); // no note: waits in the voice
    ts.put(0, 7, 0, C4, 0);
    ts.put(0, 7, 1, C4, 7);
    ts.start();

    ts.tick(); // row 0: voice 0 from offset 512 at 8363 Hz, full volume, centre
    EXPECT_EQ(Values({channel(0).period, int(voiceOf(0).position), voiceOf(0).frequency,
                      voiceOf(0).volume, voiceOf(0).leftVolume, voiceOf(0).rightVolume}),
              Values({4608, 512, 8363, 128, 63, 64}));
    ts.row();
    ts.tick(); // row 1: retriggered while sounding, so on voice 32; C50 gives 159.375
    EXPECT_EQ(channel(0).voice, &mixChannels[32]);
    EXPECT_EQ(
        Values({channel(0).period, channel(0).volume, voiceOf(0).volume, mixChannels[0].volume}),
        Values({4480, 80, 159, 0}));
    ts.row();
    // Row 2: tone portamento with a new note and instrument. Note and instrument stay,
    // the target is C-5 with the old sample (no relative note), the volume is reset
    // from that sample, the sample is not restarted; then 4 * 16 per later tick.
    voiceOf(0).position = 77;
    EXPECT_EQ(ts.trace(6, [] { return channel(0).period; }),
              Values({4480, 4416, 4352, 4288, 4224, 4160}));
    EXPECT_EQ(Values({channel(0).note, channel(0).instrument, channel(0).portaTarget,
                      channel(0).volume, int(voiceOf(0).position)}),
              Values({D4 - 1, 0, 3840, 64, 77}));
    ts.tick(); // row 3: 0xF2 with a note: the pitch jumps at once, still no restart
    EXPECT_EQ(Values({channel(0).period, channel(0).portaSpeed, voiceOf(0).frequency,
                      int(voiceOf(0).position)}),
              Values({4352, 32, 10537, 77}));
    ts.row();
    ts.tick(); // row 4: the voice's sample starts again from 0, no trigger
    EXPECT_EQ(Values({int(voiceOf(0).position), channel(0).voice == &mixChannels[32]}),
              Values({0, 1}));
    ts.row();
    ts.tick(); // row 5: E58 after this row's period; channel 1 after it: 7680 - 3200 - 4
    EXPECT_EQ(
        Values({channel(0).period, channel(1).period, ts.sample(0).finetune, channel(1).volume}),
        Values({4608, 4476, 8, 59}));
    EXPECT_EQ(ts.trace(5, [] { return channel(1).volume; }), Values({54, 49, 44, 39, 34}));
    EXPECT_EQ(ts.trace(6, [] { return channel(1).volume; }), Values({31, 31, 31, 31, 31, 31}));
    EXPECT_EQ(Values({voiceOf(0).startOffset, int(voiceOf(0).position)}), Values({256, 0}));
    ts.tick(); // row 7: the next trigger starts at the offset; a missing instrument is silent
    EXPECT_EQ(Values({voiceOf(0).startOffset, int(voiceOf(0).position)}), Values({0, 256}));
    EXPECT_EQ(Values({channel(1).volume, voiceOf(1).volume}), Values({0, 0}));
    EXPECT_EQ(voiceOf(1).sample, &emptySample);
}

TEST(EnginePlay, KeyOffFadeoutAndGlobalVolume) {
    TestSong ts(3);
    ts.addInstrument(64);
    Instrument& in = ts.addInstrument(32);
    in.volumeEnvelope[0] = {0, 64};
    in.volumeEnvelope[1] = {2, 32};
    in.volumeEnvelope[2] = {10, 0};
    in.volumePointCount = 3;
    in.volumeSustain = 1;
    in.volumeType = 1 | 2;
    in.fadeout = 4096;
    ts.addPattern(8);
    ts.put(0, 0, 0, C4, 1);
    ts.put(0, 0, 1, C4, 2);
    ts.put(0, 0, 2, C4, 1, 0, effectGlobalVolumeSlide, 0x02);
    ts.put(0, 1, 0, 255, 0);
    ts.put(0, 1, 1, 0, 0, 0, effectKeyOff, 0x05); // K acts on tick 0 whatever its parameter
    ts.put(0, 2, 0, C4, 0);                       // a note alone keeps the key released
    ts.start();
    EXPECT_EQ(ts.trace(6, [] { return channel(1).volEnvVolume; }),
              Values({64, 48, 32, 32, 32, 32}));
    // H slides the global volume on later ticks; voices keep their volume until updated.
    EXPECT_EQ(Values({ts.song.globalVolume, voiceOf(0).volume}), Values({54, 128}));
    // Without an envelope a key-off silences at once; with one, the envelope leaves its
    // sustain point and the fadeout starts, tick 0 included.
    EXPECT_EQ(ts.trace(2, [] { return channel(1).fadeVolume; }), Values({61440, 57344}));
    EXPECT_EQ(Values({voiceOf(0).volume, channel(1).volEnvVolume, voiceOf(1).volume}),
              Values({0, 28, 21})); // 32 * 28 * 57344 * 54 * 255 / 2^35 = 20.6
    ts.row();
    ts.tick();
    EXPECT_EQ(Values({channel(0).keyOff, voiceOf(0).volume}), Values({1, 0}));
    ts.tick(10); // 4096 a tick until silence, which stays
    EXPECT_EQ(Values({channel(1).fadeVolume, voiceOf(1).volume}), Values({0, 0}));
}

TEST(EnginePlay, LaterTickEffects) {
    TestSong ts(1, true, 7);
    ts.addInstrument();
    ts.addPattern(16);
    ts.put(0, 0, 0, C4, 1, 0, effectArpeggio, 0x47);
    ts.put(0, 1, 0, 0, 0, 0, effectArpeggio, 0x47);
    ts.put(0, 2, 0, 0, 0, 0, effectPortaUp, 0xFF);
    ts.put(0, 3, 0, 0, 0, 0, effectPortaDown, 0x10);
    ts.put(0, 4, 0, C4, 1, 0, effectExtended, 0x93);
    ts.put(0, 5, 0, C4, 1, 0, effectExtended, 0x90);
    ts.put(0, 6, 0, C4, 1, 0, effectMultiRetrigger, 0x12);
    ts.put(0, 7, 0, C4, 1, 0, effectExtended, 0xC0);
    ts.put(0, 8, 0, C4, 1, 0, effectExtended, 0xC2);
    ts.start();
    auto delta = [] { return channel(0).periodDelta; };
    EXPECT_EQ(ts.trace(7, delta), Values({0, 256, 448, 0, 256, 448, 0}));
    EXPECT_EQ(ts.trace(3, delta), Values({0, 256, 448})); // restarts with the row
    ts.row();
    EXPECT_EQ(ts.trace(7, [] { return channel(0).period; }),
              Values({4608, 3588, 2568, 1548, 528, 56, 56}));
    ts.row();
    EXPECT_EQ(channel(0).period, 56 + 6 * 64);
    // E93 on tick 3 and 6, E90 never, R12 on ticks 2, 4 and 6 a step quieter each.
    auto voiceIndex = [] { return int(channel(0).voice - mixChannels); };
    EXPECT_EQ(ts.trace(7, voiceIndex), Values({32, 32, 32, 0, 0, 0, 32}));
    EXPECT_EQ(ts.trace(7, voiceIndex), Values({0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ts.trace(7, voiceIndex), Values({32, 32, 0, 0, 32, 32, 0}));
    EXPECT_EQ(channel(0).volume, 61);
    // EC0 never cuts; EC2 cuts on tick 2.
    EXPECT_EQ(ts.trace(7, [] { return voiceOf(0).volume; }),
              Values({128, 128, 128, 128, 128, 128, 128}));
    EXPECT_EQ(ts.trace(3, [] { return voiceOf(0).volume; }), Values({128, 128, 0}));
}

TEST(EnginePlay, RetriggerVolumeModes) {
    const int modes[] = {0, 1, 5, 6, 7, 8, 9, 13, 14, 15};
    TestSong ts(1, true, 2);
    ts.addInstrument();
    ts.addPattern(10);
    for (int i = 0; i < 10; ++i)
        ts.put(0, i, 0, C4, 1, 0x40, effectMultiRetrigger, static_cast<uint8_t>(modes[i] << 4 | 1));
    ts.start();
    Values volumes;
    for (int i = 0; i < 10; ++i)
        volumes.push_back(ts.trace(2, [] { return channel(0).volume; })[1]);
    EXPECT_EQ(volumes, Values({48, 47, 32, 32, 24, 48, 49, 64, 64, 64}));
}

TEST(EnginePlay, DelaysSpeedAndNoteDelay) {
    TestSong ts(2, true, 6);
    ts.addInstrument();
    ts.addPattern(8);
    ts.put(0, 0, 0, C4, 1, 0, effectExtended, 0xD0); // never sounds
    ts.put(0, 0, 1, C4, 1, 0, effectSetVolume, 0x10);
    ts.put(0, 1, 1, D4, 0, 0x30, effectExtended, 0xD3);
    ts.put(0, 2, 0, C4, 1, 0x61, effectExtended, 0xE2); // 18 ticks, slide on every one
    ts.put(0, 3, 0, 0, 0, 0, effectSpeedTempo, 0x02);
    ts.put(0, 4, 0, 0, 0, 0, effectSpeedTempo, 0x00); // changes nothing
    ts.start();
    ts.row();
    EXPECT_EQ(Values({mixChannels[0].sample == nullptr, mixChannels[32].sample == nullptr}),
              Values({1, 1}));
    // ED3 without an instrument: nothing sent before tick 3, then a fresh instrument state.
    EXPECT_EQ(
        ts.trace(6, [] { return int(channel(1).voice - mixChannels) * 1000 + voiceOf(1).volume; }),
        Values({1032, 1032, 1032, 33064, 33064, 33064}));
    EXPECT_EQ(Values({channel(1).volume, voiceOf(1).frequency}), Values({32, 9387}));
    EXPECT_EQ(ts.row(), 18);
    EXPECT_EQ(channel(0).volume, 64 - 18);
    EXPECT_EQ(Values({ts.row(), ts.row(), ts.song.speed}), Values({2, 2, 2}));
}

TEST(EnginePlay, SlidesStayWithinThePeriodLimit) {
    // 2FF on 30 of every 31 ticks: past 2.2 million ticks the period would have gone
    // beyond 2^31. It stops at the limit, where the voice plays at the 100 Hz floor.
    TestSong ts(1, true, 31);
    ts.addInstrument();
    ts.addPattern(1);
    ts.addPattern(1);
    ts.setOrders({0, 1}, 1);
    ts.put(0, 0, 0, C4, 1, 0, effectPortaDown, 0xFF);
    ts.put(1, 0, 0, 0, 0, 0, effectPortaDown, 0xFF);
    ts.start();
    ts.tick(2300000);
    EXPECT_EQ(Values({channel(0).period, voiceOf(0).frequency, int(voiceOf(0).stepFraction)}),
              Values({periodLimit, 0, 9739154}));

    // The slides of the row tick, from near either end of the range.
    const struct {
        uint8_t effect, parameter;
        int from, to;
    } slides[] = {{effectExtended, 0x2F, periodLimit - 10, periodLimit},
                  {effectExtended, 0x1F, -periodLimit + 10, -periodLimit},
                  {effectExtraFinePorta, 0x2F, periodLimit - 5, periodLimit},
                  {effectExtraFinePorta, 0x1F, -periodLimit + 5, -periodLimit}};
    TestSong row(1, true, 1);
    row.addInstrument();
    row.addPattern(2);
    row.put(0, 0, 0, C4, 1);
    for (const auto& slide : slides) {
        row.put(0, 1, 0, 0, 0, 0, slide.effect, slide.parameter);
        row.start();
        row.tick();
        channel(0).period = slide.from;
        row.tick();
        EXPECT_EQ(channel(0).period, slide.to) << int(slide.effect) << " " << slide.from;
    }
}

TEST(EnginePlay, OrdersJumpsBreaksAndLoops) {
    {
        TestSong ts(1, true, 1); // natural end continues at the restart position
        ts.addPattern(2);
        ts.addPattern(2);
        ts.addPattern(2);
        ts.setOrders({0, 1, 2}, 1);
        ts.start();
        EXPECT_EQ(visit(ts, 8), Values({0, 1, 100, 101, 200, 201, 100, 101}));
    }
    {
        // A break past the next pattern's rows starts it at row 0, as does D99; Bxx past
        // the song goes to order 0 and keeps a later D's row; D at the last order goes to
        // order 0 (not the restart position); D then B: row 0 of B's order.
        TestSong ts(2, true, 1);
        ts.addPattern(8);
        ts.addPattern(4);
        ts.addPattern(8);
        ts.setOrders({0, 1, 2}, 1);
        ts.put(0, 0, 0, 0, 0, 0, effectPatternBreak, 0x10);
        ts.put(1, 0, 0, 0, 0, 0, effectPatternBreak, 0x99);
        ts.put(2, 0, 0, 0, 0, 0, effectPositionJump, 0xFF);
        ts.put(2, 0, 1, 0, 0, 0, effectPatternBreak, 0x05);
        ts.put(0, 5, 0, 0, 0, 0, effectPositionJump, 0x02);
        ts.put(0, 5, 1, 0, 0, 0, effectPatternBreak, 0x03);
        ts.put(2, 3, 0, 0, 0, 0, effectPatternBreak, 0x01);
        ts.put(0, 1, 0, 0, 0, 0, effectPatternBreak, 0x06);
        ts.put(0, 1, 1, 0, 0, 0, effectPositionJump, 0x02);
        ts.start();
        EXPECT_EQ(visit(ts, 7), Values({0, 100, 200, 5, 203, 1, 200}));
    }
    {
        // E60 on row 8 and E62 on row 12 play rows 8..12 three times; the later ticks of
        // the loop row still play that row. A B in a loop's end row wins.
        TestSong ts(2, true, 2);
        ts.addPattern(16);
        ts.addPattern(4);
        ts.setOrders({0, 1});
        ts.put(0, 8, 0, 0, 0, 0, effectExtended, 0x60);
        ts.put(0, 12, 0, 0, 0, 0, effectExtended, 0x62);
        ts.put(0, 12, 1, 0, 0, 0, effectVolumeSlide, 0x10);
        ts.put(1, 2, 1, 0, 0, 0, effectExtended, 0x63);
        ts.put(1, 2, 0, 0, 0, 0, effectPositionJump, 0x00);
        ts.start();
        Values rows, jumps;
        for (int i = 0; i < 24; ++i) {
            rows.push_back(visit(ts, 1)[0]);
            if (rows.back() == 12) jumps.push_back(patternLoopJumpRow());
        }
        EXPECT_EQ(rows, Values({0,  1, 2, 3,  4,  5,  6, 7, 8,  9,  10, 11,
                                12, 8, 9, 10, 11, 12, 8, 9, 10, 11, 12, 13}));
        EXPECT_EQ(jumps, Values({8, 8, -1}));
        EXPECT_EQ(channel(1).volume, 3);
        EXPECT_EQ(visit(ts, 6), Values({14, 15, 100, 101, 102, 0}));
    }
}

TEST(EnginePlay, PanningZeroIsTheLeftSpeaker) {
    // One channel at panning 0, 128 and 255: the RMS of each side over the first two seconds.
    setMixingThreadEnabled(false);
    const uint8_t pans[3] = {0, 128, 255};
    double rms[3][2] = {};
    for (int k = 0; k < 3; ++k) {
        loadertest::SongPtr song = loadertest::load(squareNotes(1, 100, pans[k]));
        ASSERT_TRUE(song && openSoundOutput(44100));
        for (size_t i = 0; const int16_t value : prefill(song.get()))
            rms[k][i++ % 2] += double(value) * value / ringFrames;
    }
    closeSoundOutput();
    EXPECT_TRUE(rms[0][0] > 1e6 && rms[0][1] == 0) << rms[0][0] << " " << rms[0][1];
    EXPECT_TRUE(rms[2][0] == 0 && rms[2][1] > 1e6) << rms[2][0] << " " << rms[2][1];
    EXPECT_NEAR(std::sqrt(rms[1][0] / rms[1][1]), 63.0 / 64.0, 0.001); // gains 63 and 64
}

TEST(EnginePlay, AStoppedSongLeavesNoVoiceBehind) {
    // Channel 1 still sounds at the end of the first two seconds: playing the song again
    // must not let it ring into the new start, nor may a song loaded after freeing this
    // one mix the freed samples (AddressSanitizer watches).
    setMixingThreadEnabled(false);
    loadertest::SongPtr first = loadertest::load(squareNotes(2, 100));
    ASSERT_TRUE(first && openSoundOutput(44100));
    const std::vector<int16_t> start = prefill(first.get());
    EXPECT_EQ(prefill(first.get()), start);
    first.reset();
    EXPECT_TRUE(std::all_of(mixChannels, mixChannels + mixChannelCount, [](const MixChannel& v) {
        return !v.sample && !v.volume && !v.leftVolume && !v.rightVolume && !v.currentLeft &&
               !v.currentRight;
    }));
    loadertest::SongPtr second = loadertest::load(squareNotes(2, -60));
    const std::vector<int16_t> afterFree = prefill(second.get());
    closeSoundOutput();
    ASSERT_TRUE(openSoundOutput(44100));
    EXPECT_EQ(prefill(second.get()), afterFree);
    second.reset();
    closeSoundOutput();
}
