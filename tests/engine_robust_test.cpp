// Random songs with every effect number, random parameters, odd notes and
// instruments, malformed envelopes and short patterns, played tick by tick: the
// engine must stay inside its tables (the sanitizer builds check every access) and
// keep channel and voice values in their ranges.
#include <gtest/gtest.h>

#include <random>

#include "engine_song.h"
#include "music/row_processing.h"

namespace {

void randomEnvelope(std::mt19937& rng, EnvelopePoint* points, uint8_t& count, uint8_t& sustain,
                    uint8_t& loopStart, uint8_t& loopEnd, uint8_t& type) {
    std::uniform_int_distribution<int> byte(0, 255);
    count = static_cast<uint8_t>(rng() % 4 == 0 ? byte(rng) : rng() % 13);
    int x = 0;
    for (int k = 0; k < 12; ++k) {
        // Mostly rising ticks and values 0..64, sometimes anything at all.
        x += static_cast<int>(rng() % 20);
        bool wild = rng() % 8 == 0;
        points[k].x = static_cast<uint16_t>(wild ? rng() % 65536 : x);
        points[k].y = static_cast<uint16_t>(wild ? rng() % 65536 : rng() % 65);
    }
    sustain = static_cast<uint8_t>(rng() % 16);
    loopStart = static_cast<uint8_t>(rng() % 4 == 0 ? byte(rng) : rng() % 12);
    loopEnd = static_cast<uint8_t>(rng() % 4 == 0 ? byte(rng) : rng() % 12);
    type = static_cast<uint8_t>(rng() % 8);
}

void checkState(const TestSong& ts, int channels) {
    const Song& s = ts.song;
    ASSERT_GE(s.orderPosition, 0);
    ASSERT_LT(s.orderPosition, s.songLength > 0 ? s.songLength : 1);
    int rows = ts.patterns[s.orderTable[s.orderPosition]].rowCount;
    ASSERT_GE(s.row, 0);
    ASSERT_LT(s.row, rows > 0 ? rows : 1);
    ASSERT_GE(s.globalVolume, 0);
    ASSERT_LE(s.globalVolume, 64);
    for (int c = 0; c < channels; ++c) {
        const SongChannel& ch = songChannels[c];
        ASSERT_GE(ch.volEnvVolume, 0);
        ASSERT_LE(ch.volEnvVolume, 64);
        ASSERT_GE(ch.panEnvPanning, 0);
        ASSERT_LE(ch.panEnvPanning, 64);
        ASSERT_GE(ch.fadeVolume, 0);
        ASSERT_LE(ch.fadeVolume, 65536);
        ASSERT_GE(ch.vibratoPosition, -32);
        ASSERT_LE(ch.vibratoPosition, 31);
        ASSERT_GE(ch.autoVibratoPosition, 0);
        ASSERT_LE(ch.autoVibratoPosition, 255);
        ASSERT_TRUE(ch.voice == &mixChannels[c] || ch.voice == &mixChannels[c + 32]);
    }
    for (int v = 0; v < 64; ++v) {
        const MixChannel& m = mixChannels[v];
        ASSERT_EQ(m.number, v);
        ASSERT_GE(m.volume, 0);
        ASSERT_LE(m.volume, 510); // C can set 255: 255 * 255 / 128 at most
        ASSERT_GE(m.panning, 0);
        ASSERT_LE(m.panning, 255);
        ASSERT_GE(m.leftVolume, 0);
        ASSERT_GE(m.rightVolume, 0);
        ASSERT_GE(m.step, 0);
        ASSERT_LE(m.step, 255);
        if (m.sample) {
            ASSERT_LE(m.position, m.sample->loopStart + m.sample->loopLength);
        }
    }
}

} // namespace

TEST(EngineRobustness, RandomSongsStayInRange) {
    std::mt19937 rng(20261206);
    for (int round = 0; round < 300; ++round) {
        int channels = 1 + static_cast<int>(rng() % 8);
        TestSong ts(channels, rng() % 2 == 0, static_cast<int>(rng() % 8));
        int instruments = static_cast<int>(rng() % 4);
        for (int i = 0; i < instruments; ++i) {
            int index = ts.addInstrument(static_cast<uint8_t>(rng() % 65), 1 + rng() % 3000,
                                         static_cast<int8_t>(rng() % 256 - 128),
                                         static_cast<int8_t>(rng() % 256 - 128));
            Instrument& in = ts.instrument(index);
            Sample& s = ts.sample(index);
            if (rng() % 2) {
                s.loopStart = static_cast<uint32_t>(rng() % s.length);
                s.loopLength = 1 + static_cast<uint32_t>(rng() % (s.length - s.loopStart));
                s.loopType = rng() % 2 ? 2 : 4;
            }
            s.panning = static_cast<int32_t>(rng() % 256);
            for (auto& k : in.sampleMap)
                k = static_cast<uint8_t>(rng() % 20);
            randomEnvelope(rng, in.volumeEnvelope, in.volumePointCount, in.volumeSustain,
                           in.volumeLoopStart, in.volumeLoopEnd, in.volumeType);
            randomEnvelope(rng, in.panningEnvelope, in.panningPointCount, in.panningSustain,
                           in.panningLoopStart, in.panningLoopEnd, in.panningType);
            in.vibratoType = static_cast<uint8_t>(rng() % 6);
            in.vibratoSweep = static_cast<uint8_t>(rng() % 256);
            in.vibratoDepth = static_cast<uint8_t>(rng() % 16);
            in.vibratoRate = static_cast<uint8_t>(rng() % 256);
            in.fadeout = static_cast<uint16_t>(rng() % 65536);
        }
        int patterns = 1 + static_cast<int>(rng() % 3);
        for (int p = 0; p < patterns; ++p) {
            int rows = 1 + static_cast<int>(rng() % 40);
            ts.addPattern(rows);
            for (int r = 0; r < rows; ++r) {
                for (int c = 0; c < channels; ++c) {
                    if (rng() % 3 == 0) continue;
                    uint32_t n = rng() % 110;
                    uint8_t note = n < 97 ? static_cast<uint8_t>(n) : n < 100 ? 255 : 0;
                    uint8_t effect = static_cast<uint8_t>(rng() % 36);
                    ts.put(p, r, c, note, static_cast<uint8_t>(rng() % (instruments + 3)),
                           static_cast<uint8_t>(rng() % 4 == 0 ? rng() % 256 : 0), effect,
                           static_cast<uint8_t>(rng() % 256));
                }
            }
        }
        std::vector<uint8_t> orders;
        int length = 1 + static_cast<int>(rng() % 6);
        for (int i = 0; i < length; ++i)
            orders.push_back(static_cast<uint8_t>(rng() % patterns));
        ts.setOrders(orders, static_cast<int>(rng() % 8));
        ts.start();
        for (int t = 0; t < 600; ++t) {
            ts.tick();
            ASSERT_NO_FATAL_FAILURE(checkState(ts, channels)) << "round " << round << " tick " << t;
        }
    }
}

TEST(EngineRobustness, EmptyAndDegenerateSongs) {
    // No channels and no instruments: the rows still go by.
    TestSong none(0);
    none.addPattern(4);
    none.start();
    none.ticks(20);
    EXPECT_EQ(none.song.row, 3);

    // A song whose only pattern has no cells: rows advance, channels keep quiet.
    TestSong bare(2);
    bare.addPattern(4);
    bare.start();
    bare.patterns[0].cells = nullptr;
    bare.ticks(12);
    EXPECT_EQ(bare.song.row, 1);
    EXPECT_EQ(mixChannels[0].sample, nullptr);

    // An order table naming a pattern that does not exist plays silence.
    TestSong missing(1);
    missing.addInstrument();
    missing.addPattern(2);
    missing.put(0, 0, 0, 49, 1);
    missing.setOrders({0, 9});
    missing.start();
    missing.ticks(13);
    EXPECT_EQ(missing.song.orderPosition, 1);
    missing.ticks(6);
    EXPECT_EQ(missing.song.orderPosition, 0);
}
