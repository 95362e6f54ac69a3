// The XM loader on malformed input: what it refuses, what it mends (restart position,
// note bytes, envelope indices, header sizes, sample lengths and loops past the data),
// and a valid module truncated at every byte, none of which may crash or leave a Song
// that indexes outside its buffers. (Random corruption is the fuzz corpus's job.)
#include "music_loader_support.h"

#include <functional>

namespace {

using namespace loadertest;

// Loads and checks; true when a Song came back.
bool loads(const std::vector<uint8_t>& bytes) {
    SongPtr song = load(bytes);
    if (song) expectSoundSong(song.get());
    return song != nullptr;
}
bool loads(const XmModule& m) {
    return loads(writeXm(m));
}
bool loads(std::function<void(XmModule&)> change) {
    XmModule m = tinyModule();
    change(m);
    return loads(m);
}

TEST(LoaderMalformed, RefusesWhatThePlayerCannotHold) {
    const std::vector<uint8_t> good = writeXm(richModule());
    for (size_t i = 0; i < 17; ++i) { // any byte of the signature
        std::vector<uint8_t> bad = good;
        bad[i] ^= 0x20;
        EXPECT_FALSE(loads(bad)) << i;
    }
    EXPECT_FALSE(loads(std::vector<uint8_t>(good.begin(), good.begin() + 16)));
    // Each refusal next to the largest value that still loads.
    EXPECT_FALSE(loads(tinyModule(0)));
    EXPECT_FALSE(loads(tinyModule(33)));
    EXPECT_TRUE(loads(tinyModule(32)));
    EXPECT_FALSE(loads([](XmModule& m) { m.orders.assign(257, 0); }));
    EXPECT_TRUE(loads([](XmModule& m) { m.orders.assign(256, 0); }));
    EXPECT_FALSE(loads([](XmModule& m) { m.songLength = 0; }));
    EXPECT_FALSE(loads([](XmModule& m) { m.patterns.assign(257, xmPattern(1, 1)); }));
    EXPECT_TRUE(loads([](XmModule& m) { m.patterns.assign(256, xmPattern(1, 1)); }));
    EXPECT_FALSE(loads([](XmModule& m) { m.patternCount = 60000; }));
    EXPECT_FALSE(loads([](XmModule& m) { m.instruments.resize(129); }));
    EXPECT_TRUE(loads([](XmModule& m) { m.instruments.resize(128); }));
    EXPECT_FALSE(loads([](XmModule& m) { m.instrumentCount = 65535; }));
    EXPECT_FALSE(loads([](XmModule& m) { m.patterns[0] = xmPattern(257, 1); }));
    EXPECT_TRUE(loads([](XmModule& m) { m.patterns[0] = xmPattern(256, 1); }));
    // A tempo of 0 gives no tick length; speed 0 (every tick a row tick) plays.
    EXPECT_FALSE(loads([](XmModule& m) { m.defaultTempo = 0; }));
    EXPECT_FALSE(loads([](XmModule& m) { m.defaultTempo = 256; }));
    EXPECT_TRUE(loads([](XmModule& m) { m.defaultTempo = 255, m.defaultSpeed = 0; }));
}

TEST(LoaderMalformed, MendsRestartNotesEnvelopesAndHeaderSizes) {
    XmModule m = tinyModule();
    m.orders = {0, 0, 0};
    for (uint16_t restart : {3, 65535}) {
        m.restartPosition = restart;
        EXPECT_EQ(load(m)->restartPosition, 0) << restart;
    }
    m.restartPosition = 2;
    EXPECT_EQ(load(m)->restartPosition, 2);

    // Note bytes above 97 would index past the 96-entry sample map: read as no note.
    m = tinyModule(2);
    m.patterns[0].rawData = std::vector<uint8_t>{0x83, 98, 4, 0x81, 0xFF};
    SongPtr song = load(m);
    EXPECT_EQ(song->patterns[0].cells[0].note + song->patterns[0].cells[1].note, 0);
    EXPECT_EQ(song->patterns[0].cells[0].instrument, 4);

    // Point counts beyond the 12 stored points, indices beyond the 20-entry table.
    m = richModule();
    m.instruments[0].volumeEnvelope = {{{0, 1}, {2, 3}}, 30, 250, 255, 7, 200};
    m.instruments[0].panningEnvelope = {{}, 11, 11, 11, 1, 13};
    song = load(m);
    expectSoundSong(song.get());
    const Instrument& ins = song->instruments[0];
    EXPECT_TRUE(ins.volumePointCount == 12 && ins.volumeType == 7);
    EXPECT_TRUE(ins.volumeSustain == 19 && ins.volumeLoopStart == 19 && ins.volumeLoopEnd == 19);
    EXPECT_TRUE(ins.panningPointCount == 12 && ins.panningLoopStart == 11);

    // Header sizes pointing far beyond the file or back into it: no crash, no overrun.
    m = richModule();
    m.headerSizeField = 0xFFFFFFF0u;
    EXPECT_TRUE(loads(m));
    for (uint32_t size : {0xFFFFFFFFu, 0u}) {
        m = richModule();
        m.instruments[0].headerSizeField = size;
        EXPECT_TRUE(loads(m));
    }
}

TEST(LoaderMalformed, SampleLengthsAndLoopsStayInsideTheData) {
    // A gigabyte length in a small file: cut to the bytes present, the loop clamped.
    XmModule m = tinyModule();
    XmSample& s = m.instruments.emplace_back().samples.emplace_back();
    s = sample({1, 2, 3, 4, 5, 6}, false, XmLoop::forward, 2, 1000);
    s.lengthBytes = 1u << 30;
    SongPtr song = load(m);
    expectSoundSong(song.get());
    const Sample* a = song->instruments[0].samples[0];
    EXPECT_TRUE(a->length == 6 && a->loopStart == 2 && a->loopLength == 4);
    EXPECT_EQ(a->data[6], a->data[2]); // the guard at the clamped loop end

    // A loop starting at the end is no loop; 32-bit wrap of start + length is caught.
    s.lengthBytes.reset();
    s.loopStart = 6;
    s.loopLength = 2;
    song = load(m);
    EXPECT_EQ(song->instruments[0].samples[0]->loopType, 1);
    s.loopStartBytes = 2;
    s.loopLengthBytes = 0xFFFFFFFFu;
    song = load(m);
    a = song->instruments[0].samples[0];
    EXPECT_TRUE(a->loopType == 2 && a->loopStart == 2 && a->loopLength == 4);

    // Two samples claiming more than there is: the first takes what exists, the second
    // gets nothing and loses its loop.
    XmSample first = sample({1, 2, 3}, false, XmLoop::none, 0, 0);
    XmSample second = sample({4, 5}, false, XmLoop::forward, 0, 2);
    first.lengthBytes = 5;
    m.instruments[0].samples = {first, second};
    song = load(m);
    expectSoundSong(song.get());
    EXPECT_EQ(song->instruments[0].samples[0]->data[4], 8 * 256); // deltas 1 1 1 4 1
    EXPECT_EQ(song->instruments[0].samples[1]->length, 0u);
}

TEST(LoaderMalformed, TruncatedAtEveryByte) {
    const std::vector<uint8_t> bytes = writeXm(richModule());
    int loaded = 0;
    for (size_t n = 0; n <= bytes.size() && !HasFailure(); ++n) {
        SongPtr song = load(std::vector<uint8_t>(bytes.begin(), bytes.begin() + n));
        EXPECT_TRUE(n >= 17 || !song);
        if (!song) continue;
        ++loaded;
        expectSoundSong(song.get());
        uint64_t dataBytes = 0; // never more sample data than the cut file holds
        for (int i = 0; i < song->instrumentCount; ++i)
            for (int k = 0; k < song->instruments[i].sampleCount; ++k)
                dataBytes += song->instruments[i].samples[k]->length;
        EXPECT_LE(dataBytes, n) << n;
    }
    EXPECT_GT(loaded, 0);

    // Cut inside the last sample's data: two of its four 16-bit values remain.
    SongPtr song = load(std::vector<uint8_t>(bytes.begin(), bytes.end() - 3));
    const Sample* last = song->instruments[2].samples[0];
    EXPECT_TRUE(last->length == 2 && last->loopStart == 0 && last->loopLength == 2);
    EXPECT_TRUE(last->data[1] == 7 && last->data[2] == -5);
}

} // namespace
