// Song advance and later ticks: order and row movement with jumps, breaks and
// loops, speed and delays, and the effects that run on ticks other than 0.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "engine_song.h"
#include "music/row_processing.h"

namespace {

constexpr uint8_t C4 = 49, D4 = 51;
using Position = std::pair<int, int>; // order position, row

// Plays `rows` rows and returns the position each row tick processed.
std::vector<Position> visit(TestSong& ts, int rows) {
    std::vector<Position> seen;
    for (int i = 0; i < rows; ++i) {
        EXPECT_EQ(ts.song.tick, 0);
        ts.tick();
        seen.push_back({ts.song.orderPosition, ts.song.row});
        while (ts.song.tick != 0)
            ts.tick();
    }
    return seen;
}

// A song of `patterns` patterns of `rows` rows each, played at speed 1.
TestSong songOf(int channels, int patterns, int rows, std::vector<uint8_t> orders,
                int restart = 0) {
    TestSong ts(channels, true, 1);
    ts.addInstrument();
    for (int p = 0; p < patterns; ++p)
        ts.addPattern(rows);
    ts.setOrders(std::move(orders), restart);
    return ts;
}

} // namespace

TEST(EngineSong, NaturalEndRestartJumpsAndBreaks) {
    {
        TestSong ts = songOf(1, 3, 2, {0, 1, 2}, 1);
        ts.start();
        EXPECT_EQ(visit(ts, 9),
                  (std::vector<Position>{
                      {0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {1, 0}, {1, 1}, {2, 0}}));
    }
    {
        // A restart position outside the song starts it over from order 0.
        TestSong ts = songOf(1, 1, 2, {0, 0}, 7);
        ts.start();
        EXPECT_EQ(visit(ts, 5), (std::vector<Position>{{0, 0}, {0, 1}, {1, 0}, {1, 1}, {0, 0}}));
    }
    {
        // D then B in a later channel: row 0 of B's order. B then D: B's order, D's row.
        TestSong ts = songOf(2, 3, 8, {0, 1, 2});
        ts.put(0, 1, 0, 0, 0, 0, effectPatternBreak, 0x03);
        ts.put(0, 1, 1, 0, 0, 0, effectPositionJump, 0x02);
        ts.put(2, 0, 0, 0, 0, 0, effectPositionJump, 0x01);
        ts.put(2, 0, 1, 0, 0, 0, effectPatternBreak, 0x05);
        ts.start();
        EXPECT_EQ(visit(ts, 4), (std::vector<Position>{{0, 0}, {0, 1}, {2, 0}, {1, 5}}));
    }
    {
        // D at the last order goes to order 0, not to the restart position; D99 and a
        // break past the next pattern's rows start it at row 0; Bxx past the song: order 0.
        TestSong ts = songOf(1, 3, 8, {0, 1, 2}, 1);
        ts.patterns.clear();
        ts.cells.clear();
        ts.addPattern(8);
        ts.addPattern(4);
        ts.addPattern(8);
        ts.put(0, 0, 0, 0, 0, 0, effectPatternBreak, 0x06); // row 6 of a 4-row pattern
        ts.put(1, 0, 0, 0, 0, 0, effectPatternBreak, 0x99);
        ts.put(2, 0, 0, 0, 0, 0, effectPatternBreak, 0x02);
        ts.put(0, 2, 0, 0, 0, 0, effectPositionJump, 0xFF);
        ts.start();
        EXPECT_EQ(visit(ts, 7),
                  (std::vector<Position>{{0, 0}, {1, 0}, {2, 0}, {0, 2}, {0, 0}, {1, 0}, {2, 0}}));
    }
}

TEST(EngineSong, PatternLoops) {
    TestSong ts = songOf(2, 2, 16, {0, 1});
    ts.put(0, 8, 0, 0, 0, 0, effectExtended, 0x60);
    ts.put(0, 12, 0, 0, 0, 0, effectExtended, 0x62);
    ts.put(0, 12, 1, 0, 0, 0, effectVolumeSlide, 0x10); // on the later ticks of every pass
    // Pattern 1: a loop whose end row also holds a B, which wins.
    ts.put(1, 0, 1, 0, 0, 0, effectExtended, 0x60);
    ts.put(1, 2, 1, 0, 0, 0, effectExtended, 0x63);
    ts.put(1, 2, 0, 0, 0, 0, effectPositionJump, 0x00);
    ts.start();
    ts.song.speed = 2;

    std::vector<int> rows;
    std::vector<int> jumps;
    for (int i = 0; i < 24; ++i) {
        ts.tick();
        rows.push_back(ts.song.row);
        jumps.push_back(patternLoopJumpRow());
        ts.tick(); // the later tick still plays the row just processed
        EXPECT_EQ(ts.song.row, rows.back());
    }
    std::vector<int> expected{0,  1, 2, 3,  4,  5,  6, 7, 8,  9,  10, 11,
                              12, 8, 9, 10, 11, 12, 8, 9, 10, 11, 12, 13};
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(jumps[12], 8);
    EXPECT_EQ(jumps[17], 8);
    EXPECT_EQ(jumps[22], -1);
    EXPECT_EQ(jumps[11], -1);
    EXPECT_EQ(channel(1).volume, 3); // the loop row's slide ran on all three passes

    // On to pattern 1 (order 1): the B in the loop row takes the song to order 0 row 0.
    visit(ts, 2);
    std::vector<Position> seen = visit(ts, 3);
    EXPECT_EQ(seen.front(), (Position{1, 0}));
    EXPECT_EQ(seen.back(), (Position{1, 2}));
    ts.tick();
    EXPECT_EQ(ts.song.orderPosition, 0);
    EXPECT_EQ(ts.song.row, 0);
}

TEST(EngineSong, SpeedDelaysAndNoteTiming) {
    {
        // F00: every tick is a row tick. F02 on tick 0 shortens the same row.
        TestSong ts(1, true, 6);
        ts.addInstrument();
        ts.addPattern(8);
        ts.put(0, 0, 0, 0, 0, 0, effectSpeedTempo, 0x02);
        ts.put(0, 1, 0, 0, 0, 0, effectSpeedTempo, 0x00);
        ts.start();
        EXPECT_EQ(ts.finishRow(), 2);
        ts.tick();
        EXPECT_EQ(ts.song.speed, 0);
        EXPECT_EQ(ts.song.tick, 0);
        ts.tick();
        EXPECT_EQ(ts.song.row, 2);
        ts.tick();
        EXPECT_EQ(ts.song.row, 3);
    }
    {
        // EE2 at speed 6: 18 ticks, no new trigger, slides go on, tick counts to 17.
        TestSong ts(1, true, 6);
        ts.addInstrument();
        ts.addPattern(8);
        ts.put(0, 0, 0, C4, 1, 0x61, effectExtended, 0xE2);
        ts.start();
        ts.tick();
        MixChannel* voice = channel(0).voice;
        int highest = 0;
        int count = 1;
        while (ts.song.tick != 0) {
            highest = ts.song.tick;
            ts.tick();
            ++count;
        }
        EXPECT_EQ(count, 18);
        EXPECT_EQ(highest, 17);
        EXPECT_EQ(channel(0).voice, voice);
        EXPECT_EQ(channel(0).volume, 64 - 18);
        EXPECT_EQ(ts.song.patternDelayTicks, 0);
        ts.tick();
        EXPECT_EQ(ts.song.row, 1);
    }
    {
        // ED0 never sounds; ED3 starts the note on tick 3 with a fresh instrument state
        // and sends nothing before; EC0 never cuts; EC2 cuts on tick 2.
        TestSong ts(2, true, 6);
        ts.addInstrument();
        ts.addPattern(8);
        ts.put(0, 0, 0, C4, 1, 0, effectExtended, 0xD0);
        ts.put(0, 0, 1, C4, 1, 0, effectSetVolume, 0x10);
        ts.put(0, 1, 1, D4, 0, 0x30, effectExtended, 0xD3);
        ts.put(0, 2, 1, C4, 1, 0, effectExtended, 0xC0);
        ts.put(0, 3, 1, C4, 1, 0, effectExtended, 0xC2);
        ts.start();
        for (int i = 0; i < 6; ++i) {
            ts.tick();
            EXPECT_EQ(mixChannels[0].sample, nullptr);
            EXPECT_EQ(mixChannels[32].sample, nullptr);
        }
        EXPECT_EQ(mixChannels[1].volume, 32);
        EXPECT_EQ(mixChannels[1].frequency, 8363);

        for (int t = 0; t < 3; ++t) {
            ts.tick();
            EXPECT_EQ(channel(1).voice, &mixChannels[1]);
            EXPECT_EQ(mixChannels[1].volume, 32);
            EXPECT_EQ(mixChannels[1].frequency, 8363);
        }
        ts.tick(); // tick 3: the delayed note with volume 0x30 from its volume column
        EXPECT_EQ(channel(1).voice, &mixChannels[33]);
        EXPECT_EQ(channel(1).volume, 32);
        EXPECT_EQ(channel(1).period, 4480);
        EXPECT_EQ(mixChannels[33].frequency, 9387);
        EXPECT_EQ(mixChannels[33].volume, 64);
        ts.finishRow();

        for (int t = 0; t < 6; ++t) {
            ts.tick();
            EXPECT_EQ(voiceOf(1).volume, 128);
        }
        ts.ticks(2);
        EXPECT_EQ(voiceOf(1).volume, 128);
        ts.tick();
        EXPECT_EQ(voiceOf(1).volume, 0);
        EXPECT_EQ(ts.song.tick, 3);
    }
}

TEST(EngineSong, LaterTickEffects) {
    TestSong ts(2, true, 6);
    ts.addInstrument();
    ts.addPattern(16);
    ts.put(0, 0, 0, C4, 1, 0, effectArpeggio, 0x47);
    ts.put(0, 1, 0, 0, 0, 0, effectArpeggio, 0x47);
    ts.put(0, 2, 0, 0, 0, 0, effectPortaUp, 0xFF);
    ts.put(0, 3, 0, 0, 0, 0, effectPortaDown, 0x10);
    ts.put(0, 4, 0, 0, 0, 0, effectPortaDown, 0x00); // memory
    ts.put(0, 5, 0, C4, 1, 0, effectExtended, 0x93);
    ts.put(0, 6, 0, C4, 1, 0, effectExtended, 0x90);
    ts.put(0, 7, 0, C4, 1, 0, effectMultiRetrigger, 0x12);
    ts.put(0, 8, 0, C4, 1, 0x40, effectVolumeSlide, 0x0F);
    ts.put(0, 9, 0, 0, 0, 0, effectVolumeSlide, 0x00);
    ts.put(0, 10, 0, 0, 0, 0, effectVibratoVolumeSlide, 0x00); // shares the memory
    ts.put(0, 0, 1, C4, 1);
    ts.put(0, 1, 1, 0, 0, 0, effectGlobalVolumeSlide, 0x02);
    ts.put(0, 2, 1, 0, 0, 0, effectGlobalVolumeSlide, 0x00);
    ts.start();

    std::vector<int> deltas;
    for (int t = 0; t < 6; ++t) {
        ts.tick();
        deltas.push_back(channel(0).periodDelta);
    }
    EXPECT_EQ(deltas, (std::vector<int>{0, 256, 448, 0, 256, 448}));
    ts.tick(); // a new row restarts the cycle
    EXPECT_EQ(channel(0).periodDelta, 0);
    ts.tick();
    EXPECT_EQ(channel(0).periodDelta, 256);
    // H slides the global volume on later ticks; the plain channel keeps its voice
    // volume until the next row tick updates it.
    EXPECT_EQ(ts.song.globalVolume, 62);
    EXPECT_EQ(voiceOf(1).volume, 128);
    ts.finishRow();
    EXPECT_EQ(ts.song.globalVolume, 54);
    EXPECT_EQ(voiceOf(1).volume, 128);

    ts.tick(); // row 2: porta up to the floor of 56
    EXPECT_EQ(voiceOf(1).volume, 108);
    ts.finishRow();
    EXPECT_EQ(channel(0).period, 56);
    EXPECT_EQ(ts.song.globalVolume, 44);
    ts.finishRow();
    EXPECT_EQ(channel(0).period, 56 + 5 * 64);
    ts.finishRow();
    EXPECT_EQ(channel(0).period, 56 + 10 * 64);

    // E93 retriggers on tick 3 only (speed 6), E90 never.
    std::vector<MixChannel*> voices;
    for (int t = 0; t < 6; ++t) {
        ts.tick();
        voices.push_back(channel(0).voice);
    }
    EXPECT_EQ(voices[1], voices[0]);
    EXPECT_EQ(voices[2], voices[0]);
    EXPECT_NE(voices[3], voices[2]);
    EXPECT_EQ(voices[5], voices[3]);
    voices.clear();
    for (int t = 0; t < 6; ++t) {
        ts.tick();
        voices.push_back(channel(0).voice);
    }
    for (int t = 1; t < 6; ++t)
        EXPECT_EQ(voices[t], voices[0]);

    // R12: ticks 2 and 4, one volume step down each time.
    voices.clear();
    std::vector<int> volumes;
    for (int t = 0; t < 6; ++t) {
        ts.tick();
        voices.push_back(channel(0).voice);
        volumes.push_back(channel(0).volume);
    }
    EXPECT_EQ(volumes, (std::vector<int>{64, 64, 63, 63, 62, 62}));
    EXPECT_EQ(voices[1], voices[0]);
    EXPECT_NE(voices[2], voices[1]);
    EXPECT_NE(voices[4], voices[3]);

    // A0F slides down 15 a tick from 48; A00 and 600 reuse the shared memory.
    ts.finishRow();
    EXPECT_EQ(channel(0).volume, 0);
    ts.tick();
    EXPECT_EQ(channel(0).volumeSlideMemory, 0x0F);
}

TEST(EngineSong, MultiRetriggerVolumeModes) {
    // Speed 2: the volume column sets 48 on tick 0, R on tick 1 changes it.
    const int modes[] = {0, 1, 5, 6, 7, 8, 9, 13, 14, 15};
    const int expected[] = {48, 47, 32, 32, 24, 48, 49, 64, 64, 64};
    TestSong ts(1, true, 2);
    ts.addInstrument();
    ts.addPattern(16);
    for (int i = 0; i < 10; ++i)
        ts.put(0, i, 0, C4, 1, 0x40, effectMultiRetrigger, static_cast<uint8_t>(modes[i] << 4 | 1));
    ts.start();
    for (int i = 0; i < 10; ++i) {
        ts.tick();
        MixChannel* voice = channel(0).voice;
        int volumeBefore = voice->volume;
        ts.tick();
        EXPECT_EQ(channel(0).volume, expected[i]) << "mode " << modes[i];
        EXPECT_NE(channel(0).voice, voice) << "mode " << modes[i];
        if (modes[i] == 0) {
            EXPECT_EQ(channel(0).voice->volume, volumeBefore);
        }
    }
}
