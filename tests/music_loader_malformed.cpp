// The XM loader on malformed input: what it refuses, what it mends (restart position,
// empty patterns, sample lengths and loops past the data, envelope indices, note bytes),
// and a valid module truncated at every byte and corrupted at random, none of which may
// crash or leave a Song that indexes outside its buffers.
#include "music_loader_support.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using loadertest::expectSoundSong;
using loadertest::loadBytes;
using loadertest::richModule;

XmModule tiny(int channels = 1) {
    XmModule m;
    m.channelCount = uint16_t(channels);
    m.orders = {0};
    m.patterns.push_back(xmPattern(1, channels));
    return m;
}

// Loads, checks the song when there is one, and frees it; true when it loaded.
bool loads(const std::vector<uint8_t>& bytes) {
    Song* song = loadBytes(bytes);
    if (!song) return false;
    expectSoundSong(song);
    freeSong(song);
    return true;
}

bool loads(const XmModule& m) {
    return loads(writeXm(m));
}

TEST(LoaderMalformed, RefusesWhatThePlayerCannotHold) {
    const std::vector<uint8_t> good = writeXm(richModule());
    ASSERT_TRUE(loads(good));
    for (size_t i = 0; i < 17; ++i) { // any byte of the signature
        std::vector<uint8_t> bad = good;
        bad[i] ^= 0x20;
        EXPECT_FALSE(loads(bad)) << "signature byte " << i;
    }
    EXPECT_FALSE(loads(std::vector<uint8_t>{}));
    EXPECT_FALSE(loads(std::vector<uint8_t>(good.begin(), good.begin() + 16)));

    // Channels: none, or more than the 32 channel records.
    EXPECT_FALSE(loads(tiny(0)));
    EXPECT_FALSE(loads(tiny(33)));
    EXPECT_FALSE(loads(tiny(65535)));
    EXPECT_TRUE(loads(tiny(32)));

    // Song length: none, or more than the 256 order entries.
    XmModule m = tiny();
    m.orders.assign(257, 0);
    EXPECT_FALSE(loads(m));
    m.orders.assign(256, 0);
    EXPECT_TRUE(loads(m));
    m.songLength = 0;
    EXPECT_FALSE(loads(m));

    // Pattern and instrument counts.
    m = tiny();
    m.patterns.assign(256, xmPattern(1, 1));
    EXPECT_TRUE(loads(m));
    m.patterns.push_back(xmPattern(1, 1));
    EXPECT_FALSE(loads(m));
    m = tiny();
    m.patternCount = 60000;
    EXPECT_FALSE(loads(m));
    m = tiny();
    m.instruments.resize(128);
    EXPECT_TRUE(loads(m));
    m.instruments.resize(129);
    EXPECT_FALSE(loads(m));
    m.instruments.resize(1);
    m.instrumentCount = 65535; // would be negative as a 16-bit signed count
    EXPECT_FALSE(loads(m));

    // Rows per pattern.
    m = tiny();
    m.patterns[0] = xmPattern(256, 1);
    EXPECT_TRUE(loads(m));
    m.patterns[0] = xmPattern(257, 1);
    EXPECT_FALSE(loads(m));

    // A tempo of 0 gives no tick length; FT2 tempos end at 255.
    m = tiny();
    m.defaultTempo = 0;
    EXPECT_FALSE(loads(m));
    m.defaultTempo = 256;
    EXPECT_FALSE(loads(m));
    m.defaultTempo = 255;
    EXPECT_TRUE(loads(m));
    m.defaultSpeed = 0; // every tick a row tick: playable
    EXPECT_TRUE(loads(m));
}

TEST(LoaderMalformed, MendsRestartRowsNotesAndEnvelopes) {
    XmModule m = tiny();
    m.orders = {0, 0, 0};
    for (uint16_t restart : {3, 4, 65535}) {
        m.restartPosition = restart;
        Song* song = loadBytes(writeXm(m));
        expectSoundSong(song);
        EXPECT_EQ(song->restartPosition, 0) << restart;
        freeSong(song);
    }
    m.restartPosition = 2;
    Song* song = loadBytes(writeXm(m));
    EXPECT_EQ(song->restartPosition, 2);
    freeSong(song);

    // Note bytes above 97 cannot index the sample map: read as no note.
    m = tiny(2);
    m.patterns[0].rawData = std::vector<uint8_t>{0x83, 98, 4, 0x81, 0xFF};
    song = loadBytes(writeXm(m));
    expectSoundSong(song);
    EXPECT_EQ(song->patterns[0].cells[0].note, 0);
    EXPECT_EQ(song->patterns[0].cells[0].instrument, 4);
    EXPECT_EQ(song->patterns[0].cells[1].note, 0);
    freeSong(song);

    // Envelope point counts beyond the 12 stored points and indices beyond the table.
    m = richModule();
    XmEnvelope& e = m.instruments[0].volumeEnvelope;
    e.pointCount = 200;
    e.sustain = 30;
    e.loopStart = 250;
    e.loopEnd = 255;
    e.type = 7;
    m.instruments[0].panningEnvelope.pointCount = 13;
    m.instruments[0].panningEnvelope.loopStart = 20;
    song = loadBytes(writeXm(m));
    expectSoundSong(song);
    const Instrument& ins = song->instruments[0];
    EXPECT_EQ(ins.volumePointCount, 12);
    EXPECT_EQ(ins.volumeType, 7);
    EXPECT_EQ(ins.volumeSustain, 19);
    EXPECT_EQ(ins.volumeLoopStart, 19);
    EXPECT_EQ(ins.volumeLoopEnd, 19);
    EXPECT_EQ(ins.panningPointCount, 12);
    EXPECT_EQ(ins.panningLoopStart, 19);
    freeSong(song);
    // In-range values are kept as they are.
    m.instruments[0].volumeEnvelope.pointCount = 12;
    m.instruments[0].volumeEnvelope.loopStart = 11;
    song = loadBytes(writeXm(m));
    EXPECT_EQ(song->instruments[0].volumePointCount, 12);
    EXPECT_EQ(song->instruments[0].volumeLoopStart, 11);
    freeSong(song);

    // Header sizes pointing far beyond the file: the rest reads as zeros, nothing breaks.
    m = richModule();
    m.headerSizeField = 0xFFFFFFF0u;
    EXPECT_TRUE(loads(m));
    m = richModule();
    m.instruments[0].headerSizeField = 0xFFFFFFFFu;
    EXPECT_TRUE(loads(m));
    m = richModule();
    m.instruments[0].headerSizeField = 0; // samples then come from inside the instrument header
    EXPECT_TRUE(loads(m));
}

TEST(LoaderMalformed, SampleLengthsAndLoopsStayInsideTheData) {
    // A length far beyond the file: cut to the bytes present (no gigabyte allocation).
    XmModule m = tiny();
    XmSample& s = m.instruments.emplace_back().samples.emplace_back();
    s.data = {1, 2, 3, 4, 5, 6};
    s.lengthBytes = 1u << 30;
    s.loop = XmLoop::forward;
    s.loopStart = 2;
    s.loopLength = 1000;
    Song* song = loadBytes(writeXm(m));
    expectSoundSong(song);
    const Sample* a = song->instruments[0].samples[0];
    EXPECT_EQ(a->length, 6u);
    EXPECT_EQ(a->loopStart, 2u);
    EXPECT_EQ(a->loopLength, 4u); // clamped to the sample
    EXPECT_EQ(a->data[5], 6 * 256);
    EXPECT_EQ(a->data[6], a->data[2]); // the guard at the clamped loop end
    freeSong(song);

    // A loop starting past the end is no loop; a 16-bit ping-pong loop is clamped too.
    s.lengthBytes.reset();
    s.loopStart = 6;
    s.loopLength = 2;
    song = loadBytes(writeXm(m));
    a = song->instruments[0].samples[0];
    EXPECT_EQ(a->loopType, 1);
    EXPECT_EQ(a->loopStart, 0u);
    EXPECT_EQ(a->loopLength, 6u);
    EXPECT_EQ(a->data[6], 0);
    freeSong(song);
    XmSample wide;
    wide.sixteenBit = true;
    wide.data = {100, 200, 300, 400};
    wide.loop = XmLoop::pingPong;
    wide.loopStartBytes = 2;
    wide.loopLengthBytes = 0xFFFFFFFEu; // far past the end
    m.instruments[0].samples = {wide};
    song = loadBytes(writeXm(m));
    expectSoundSong(song);
    a = song->instruments[0].samples[0];
    EXPECT_EQ(a->loopType, 4);
    EXPECT_EQ(a->loopStart, 1u);
    EXPECT_EQ(a->loopLength, 3u);
    EXPECT_EQ(a->data[4], 400);
    freeSong(song);
    XmSample wrap; // 8-bit: start + length wraps around in 32 bits
    wrap.data = {1, 2, 3, 4};
    wrap.loop = XmLoop::forward;
    wrap.loopStartBytes = 2;
    wrap.loopLengthBytes = 0xFFFFFFFFu;
    m.instruments[0].samples = {wrap};
    song = loadBytes(writeXm(m));
    expectSoundSong(song);
    a = song->instruments[0].samples[0];
    EXPECT_EQ(a->loopStart, 2u);
    EXPECT_EQ(a->loopLength, 2u);
    EXPECT_EQ(a->data[4], 3 * 256);
    freeSong(song);

    // Two samples whose lengths together exceed the data: the first takes what is there,
    // the second gets nothing; a loop on the emptied sample goes.
    XmSample first, second;
    first.data = {1, 2, 3};
    first.lengthBytes = 5;
    second.data = {4, 5};
    second.loop = XmLoop::forward;
    second.loopLength = 2;
    m.instruments[0].samples = {first, second};
    song = loadBytes(writeXm(m));
    expectSoundSong(song);
    EXPECT_EQ(song->instruments[0].samples[0]->length, 5u);
    EXPECT_EQ(song->instruments[0].samples[0]->data[4], 8 * 256); // deltas 1 1 1 4 1
    EXPECT_EQ(song->instruments[0].samples[1]->length, 0u);
    EXPECT_EQ(song->instruments[0].samples[1]->data, nullptr);
    EXPECT_EQ(song->instruments[0].samples[1]->loopType, 1);
    freeSong(song);
}

TEST(LoaderMalformed, TruncatedAtEveryByte) {
    XmModule m = richModule();
    XmLayout layout;
    const std::vector<uint8_t> bytes = writeXm(m, &layout);
    int loaded = 0;
    for (size_t n = 0; n <= bytes.size(); ++n) {
        Song* song = loadBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + n));
        if (n < 17) {
            EXPECT_EQ(song, nullptr);
        }
        if (!song) continue;
        ++loaded;
        expectSoundSong(song);
        // Sample data never exceeds what the truncated file holds.
        uint64_t dataBytes = 0;
        for (int i = 0; i < song->instrumentCount; ++i)
            for (int k = 0; k < song->instruments[i].sampleCount; ++k)
                dataBytes += uint64_t(song->instruments[i].samples[k]->length) * 2;
        EXPECT_LE(dataBytes, 2 * n);
        freeSong(song);
        if (HasFailure()) {
            ADD_FAILURE() << "truncated at " << n;
            break;
        }
    }
    EXPECT_GT(loaded, 0);

    // Cut inside the last sample's data: that sample is shortened, its loop clamped.
    Song* song = loadBytes(std::vector<uint8_t>(bytes.begin(), bytes.end() - 3));
    expectSoundSong(song);
    const Sample* last = song->instruments[2].samples[0];
    EXPECT_EQ(last->length, 2u); // 5 of 8 bytes: two whole 16-bit values
    EXPECT_EQ(last->loopStart, 0u);
    EXPECT_EQ(last->loopLength, 2u);
    EXPECT_EQ(last->data[1], 7);
    EXPECT_EQ(last->data[2], last->data[0]);
    freeSong(song);
    EXPECT_EQ(layout.size, bytes.size());
}

TEST(LoaderMalformed, CorruptedBytesNeverBreakTheLoader) {
    XmModule m = richModule();
    m.instruments[1].samples.emplace_back().data.assign(40, 3);
    XmLayout layout;
    const std::vector<uint8_t> good = writeXm(m, &layout);
    std::mt19937 random(20240601);
    int loaded = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = good;
        int changes = 1 + int(random() % 4);
        for (int c = 0; c < changes; ++c) {
            // Mostly the header fields and the structure headers, sometimes anywhere.
            size_t at;
            switch (random() % 4) {
            case 0:
                at = 60 + random() % 24;
                break;
            case 1:
                at = layout.instruments[random() % 3] + random() % 48;
                break;
            case 2:
                at = layout.patterns[random() % 3] + random() % 12;
                break;
            default:
                at = random() % bytes.size();
                break;
            }
            if (at >= bytes.size()) continue;
            bytes[at] = random() % 3 == 0 ? 0xFF : uint8_t(random());
        }
        if (random() % 5 == 0) bytes.resize(17 + random() % (bytes.size() - 17));
        if (loads(bytes)) ++loaded;
        if (HasFailure()) {
            ADD_FAILURE() << "round " << round;
            break;
        }
    }
    EXPECT_GT(loaded, 100);
}

} // namespace
