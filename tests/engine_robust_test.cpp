// Random songs with every effect number and parameter, odd notes and instruments,
// malformed envelopes and short patterns: the engine must stay inside its tables
// (the sanitizer build checks every access) and keep its values in range.
#include <gtest/gtest.h>

#include <random>

#include "engine_song.h"

namespace {

// Points, then count, sustain, loop start and loop end: mostly sensible, sometimes not.
void randomEnvelope(std::mt19937& rng, EnvelopePoint* points,
                    std::initializer_list<uint8_t*> fields) {
    for (int k = 0, x = 0; k < 12; ++k) {
        bool wild = rng() % 8 == 0;
        x += static_cast<int>(rng() % 20);
        points[k] = {static_cast<uint16_t>(wild ? rng() : x),
                     static_cast<uint16_t>(wild ? rng() : rng() % 65)};
    }
    for (uint8_t* f : fields)
        *f = static_cast<uint8_t>(rng() % 4 ? rng() % 13 : rng());
}

bool between(int64_t value, int64_t low, int64_t high) {
    return value >= low && value <= high;
}

void checkRanges(const Song& s, int channels) {
    ASSERT_TRUE(between(s.orderPosition, 0, s.songLength - 1));
    int pattern = s.orderTable[s.orderPosition]; // orders may name a missing pattern
    ASSERT_TRUE(s.row >= 0 && (pattern >= s.patternCount || s.row < s.patterns[pattern].rowCount));
    ASSERT_TRUE(between(s.globalVolume, 0, 64));
    for (int c = 0; c < channels; ++c) {
        const SongChannel& ch = songChannels[c];
        ASSERT_TRUE(between(ch.volEnvVolume, 0, 64) && between(ch.panEnvPanning, 0, 64));
        ASSERT_TRUE(between(ch.fadeVolume, 0, 65536) && between(ch.vibratoPosition, -32, 31));
        ASSERT_TRUE(ch.voice == &mixChannels[c] || ch.voice == &mixChannels[c + 32]);
    }
    for (int v = 0; v < 64; ++v) {
        const MixChannel& m = mixChannels[v];
        ASSERT_EQ(m.number, v);
        ASSERT_TRUE(between(m.volume, 0, 510)) << m.volume; // C255: 255 * 255 / 128
        ASSERT_TRUE(between(m.panning, 0, 255) && m.leftVolume >= 0 && m.rightVolume >= 0);
        ASSERT_TRUE(between(m.step, 0, 255));
        ASSERT_TRUE(!m.sample || m.position <= m.sample->loopStart + m.sample->loopLength);
    }
}

} // namespace

TEST(EngineRobustness, RandomSongsStayInRange) {
    std::mt19937 rng(20261206);
    for (int round = 0; round < 300; ++round) {
        int channels = static_cast<int>(rng() % 9);
        TestSong ts(channels, rng() % 2, static_cast<int>(rng() % 8));
        int instruments = static_cast<int>(rng() % 4);
        for (int i = 0; i < instruments; ++i) {
            Instrument& in =
                ts.addInstrument(rng() % 65, 1 + rng() % 3000, int8_t(rng()), int8_t(rng()));
            Sample& s = ts.sample(i);
            if (rng() % 2) {
                s.loopStart = static_cast<uint32_t>(rng() % s.length);
                s.loopLength = 1 + static_cast<uint32_t>(rng() % (s.length - s.loopStart));
                s.loopType = rng() % 2 ? 2 : 4;
            }
            for (auto& k : in.sampleMap)
                k = static_cast<uint8_t>(rng() % 20);
            randomEnvelope(
                rng, in.volumeEnvelope,
                {&in.volumePointCount, &in.volumeSustain, &in.volumeLoopStart, &in.volumeLoopEnd});
            randomEnvelope(rng, in.panningEnvelope,
                           {&in.panningPointCount, &in.panningSustain, &in.panningLoopStart,
                            &in.panningLoopEnd});
            in.volumeType = static_cast<uint8_t>(rng() % 8);
            in.panningType = static_cast<uint8_t>(rng() % 8);
            in.vibratoType = static_cast<uint8_t>(rng() % 6);
            in.vibratoSweep = static_cast<uint8_t>(rng());
            in.vibratoDepth = static_cast<uint8_t>(rng() % 16);
            in.vibratoRate = static_cast<uint8_t>(rng());
            in.fadeout = static_cast<uint16_t>(rng());
        }
        int patterns = 1 + static_cast<int>(rng() % 3);
        for (int p = 0; p < patterns; ++p) {
            int rows = 1 + static_cast<int>(rng() % 40);
            ts.addPattern(rows);
            for (int cell = 0; cell < rows * channels; ++cell) {
                uint32_t n = rng() % 150;
                ts.put(p, cell / channels, cell % channels,
                       n < 97    ? n
                       : n < 100 ? 255
                                 : 0,
                       rng() % (instruments + 3), rng() % 4 ? 0 : rng(), rng() % 36, rng());
            }
        }
        std::vector<uint8_t> orders(1 + rng() % 6);
        for (auto& o : orders)
            o = static_cast<uint8_t>(rng() % (patterns + 1));
        ts.setOrders(orders, static_cast<int>(rng() % 8));
        ts.start();
        for (int t = 0; t < 600; ++t) {
            ts.tick();
            ASSERT_NO_FATAL_FAILURE(checkRanges(ts.song, channels)) << round << " " << t;
        }
    }
}
