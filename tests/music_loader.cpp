// The XM loader on well-formed modules (header and order table, cell decoding in every
// packing, instruments and envelopes, sample conversion, the sample-count limit) and on
// malformed ones: what it refuses, what it mends, and a valid module truncated at every
// byte, none of which may crash or leave a Song that indexes outside its buffers.
// (Random corruption is the fuzz corpus's job.)
#include "music_loader_support.h"

#include "music/tick_processing.h"

#include <cstring>
#include <functional>

namespace {

using namespace loadertest;

XmModule withSample(const XmSample& s) {
    XmModule m = tinyModule();
    m.instruments.emplace_back().samples.push_back(s);
    return m;
}

bool sameCells(const PatternCell* cells, std::vector<PatternCell> expected) {
    return std::memcmp(cells, expected.data(), expected.size() * sizeof(PatternCell)) == 0;
}

TEST(Loader, HeaderOrdersAndPatterns) {
    SongPtr song = load(richModule());
    expectSoundSong(song.get());
    EXPECT_TRUE(song->songLength == 4 && song->restartPosition == 1 && song->channelCount == 2);
    EXPECT_TRUE(song->flags == 1 && song->defaultSpeed == 5 && song->defaultTempo == 130);
    EXPECT_TRUE(song->instrumentCount == 3 && song->orderTable[3] == 2);
    EXPECT_TRUE(song->initialGlobalVolume == 64 && song->tickHandler == &advanceSong);

    // 12 patterns stored, pattern 14 named: patterns 12..14 have 64 empty rows.
    XmModule m = tinyModule(3);
    m.patterns.assign(12, xmPattern(2, 3));
    xmCell(m.patterns[11], 3, 1, 2) = {xmNote("A-4"), 5, 0, 0, 0};
    m.orders = {0, 14, 11};
    song = load(m);
    expectSoundSong(song.get());
    EXPECT_TRUE(song->usedPatternCount == 15 && song->patternCount == 15);
    EXPECT_TRUE(sameCells(song->patterns[11].cells + 5, {{58, 5, 0, 0, 0}}));
    EXPECT_TRUE(sameCells(song->patterns[14].cells, std::vector<PatternCell>(64 * 3)));
    EXPECT_EQ(song->patterns[12].rowCount, 64);
    EXPECT_EQ(consumedBytes(), int32_t(servedFile.size()));
    // More stored than named; order entries past the song length do not count.
    m.orders = {1, 0, 200};
    m.songLength = 2;
    song = load(m);
    EXPECT_TRUE(song->usedPatternCount == 2 && song->patternCount == 12);
}

TEST(Loader, CellsInEveryPacking) {
    // 0x80 empty (1 byte); 0x9F with all five; unpacked with a first byte of 0 (5 bytes);
    // unpacked note 97 with instrument 200; packed key off; packed instrument 200;
    // effect and parameter only; volume only.
    XmModule m = tinyModule(4);
    m.patterns[0] = xmPattern(2, 4);
    m.patterns[0].rawData = {0x80, 0x9F, 49,  2,    0x30, 0x0A, 0x10, 0,    0,
                             0,    0,    0,   97,   200,  0x10, 0x0F, 0x05, 0x81,
                             97,   0x82, 200, 0x98, 0x0E, 0x60, 0x84, 0x20};
    // Then a plain pattern with packed size 0 (nine bytes), one without rows, and one more.
    m.patterns.insert(m.patterns.end(), {xmPattern(3, 4), xmPattern(0, 4), xmPattern(1, 4)});
    xmCell(m.patterns[3], 4, 0, 3) = {xmNote("B-7"), 128, 0xFF, 0x21, 0xFF};
    m.orders = {0, 1, 2, 3};
    SongPtr song = load(m);
    expectSoundSong(song.get());
    EXPECT_TRUE(sameCells(song->patterns[0].cells, {{},
                                                    {49, 2, 0x30, 0x0A, 0x10},
                                                    {},
                                                    {255, 0, 0x10, 0x0F, 0x05},
                                                    {255, 0, 0, 0, 0},
                                                    {},
                                                    {0, 0, 0, 0x0E, 0x60},
                                                    {0, 0, 0x20, 0, 0}}));
    EXPECT_EQ(song->patterns[1].rowCount, 3);
    EXPECT_EQ(song->patterns[2].rowCount, 1); // no rows: played as one empty row
    // Every byte before was consumed exactly, or this cell would be misread.
    EXPECT_TRUE(sameCells(song->patterns[3].cells + 3, {{96, 128, 0xFF, 0x21, 0xFF}}));
    EXPECT_EQ(consumedBytes(), int32_t(servedFile.size()));
}

TEST(Loader, InstrumentsAndEnvelopes) {
    XmModule m = richModule();
    SongPtr song = load(m);
    expectSoundSong(song.get());
    const Instrument& a = song->instruments[0];
    EXPECT_TRUE(a.sampleCount == 3 && a.sampleMap[95] == 1 && a.samples[3] == &emptySample);
    EXPECT_TRUE(a.volumeEnvelope[2].x == 20 && a.panningEnvelope[1].y == 50);
    EXPECT_TRUE(a.volumePointCount == 3 && a.volumeSustain == 1 && a.panningLoopEnd == 1);
    EXPECT_TRUE(a.volumeType == 3 && a.panningType == 5);
    EXPECT_TRUE(a.vibratoType == 1 && a.vibratoRate == 4);
    EXPECT_EQ(a.fadeout, 2);
    EXPECT_EQ(song->instruments[1].sampleCount, 0); // its samples: see expectSoundSong
    EXPECT_EQ(consumedBytes(), int32_t(servedFile.size()));

    // Fewer than two points switch an envelope off; other header sizes are followed.
    m.instruments[0].volumeEnvelope.points = {{0, 40}};
    m.instruments[0].panningEnvelope.points = {};
    m.instruments[0].fadeout = 1000;
    m.instruments[0].headerSize = 300;
    m.instruments[1].headerSize = 263;
    song = load(m);
    const Instrument& b = song->instruments[0];
    EXPECT_TRUE(b.volumeType == 0 && b.panningType == 0 && b.volumeEnvelope[0].y == 40);
    EXPECT_TRUE(b.fadeout == 2000 && b.samples[0]->volume == 48);
    EXPECT_EQ(song->instruments[2].samples[0]->data[3], 11);
    EXPECT_EQ(consumedBytes(), int32_t(servedFile.size()));
}

TEST(Loader, SampleConversionLoopsAndGuards) {
    SongPtr song = load(richModule());
    const Sample& s0 = *song->instruments[0].samples[0];
    EXPECT_TRUE(s0.length == 10 && s0.loopType == 2 && s0.loopStart == 2 && s0.loopLength == 5);
    EXPECT_TRUE(s0.bits == 16 && s0.volume == 48 && s0.finetune == -16);
    EXPECT_TRUE(s0.panning == 200 && s0.relativeNote == -12);
    const int16_t values[] = {0, 20 * 256, 40 * 256, 60 * 256, -60 * 256, -40 * 256, -20 * 256};
    EXPECT_EQ(std::memcmp(s0.data, values, sizeof values), 0);
    EXPECT_EQ(s0.data[7], s0.data[2]); // forward: the guard at the loop end repeats its start
    const Sample& s1 = *song->instruments[0].samples[1];
    EXPECT_TRUE(s1.length == 6 && s1.loopType == 4 && s1.loopStart == 1 && s1.loopLength == 3);
    EXPECT_EQ(s1.data[2], 30000);
    EXPECT_EQ(s1.data[4], s1.data[3]); // ping-pong: the guard repeats the last loop value
    const Sample& s2 = *song->instruments[0].samples[2];
    EXPECT_TRUE(s2.loopType == 1 && s2.loopStart == 0 && s2.loopLength == 3);
    const int16_t unlooped[] = {1 * 256, 2 * 256, 3 * 256, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(s2.data, unlooped, sizeof unlooped), 0); // guards stay 0

    // Type 3 loops ping-pong; a loop length of 0 plays once.
    XmSample s;
    s.data = {1, 2, 3, 4};
    s.typeByte = 3;
    s.loopStartBytes = 1;
    s.loopLengthBytes = 2;
    EXPECT_EQ(load(withSample(s))->instruments[0].samples[0]->loopType, 4);
    s.loopLengthBytes = 0;
    song = load(withSample(s));
    const Sample& once = *song->instruments[0].samples[0];
    EXPECT_TRUE(once.loopType == 1 && once.loopStart == 0 && once.loopLength == 4);

    // 16-bit: 1000 bytes with loop 200 + 600 become 500 samples with loop 100..400.
    s = sample(std::vector<int16_t>(500), true, XmLoop::forward, 100, 300);
    song = load(withSample(s));
    const Sample& w = *song->instruments[0].samples[0];
    EXPECT_TRUE(w.length == 500 && w.loopStart == 100 && w.loopLength == 300);

    // Deltas 10, -20 give 2560, -2560; the sums wrap in 16 bits, 8-bit data included.
    s = {};
    s.rawData = {10, 0xEC, 0x7F, 0x7F};
    song = load(withSample(s));
    const int16_t* v = song->instruments[0].samples[0]->data;
    EXPECT_TRUE(v[0] == 2560 && v[1] == -2560 && v[2] == 29952 && v[3] == -3072);
    // 16-bit data with an odd byte count: three frames, and the odd byte is passed over,
    // so the next sample and the next instrument are read from their own bytes.
    s.sixteenBit = true;
    s.rawData = {0xFF, 0x7F, 0x02, 0x00, 0x00, 0x80, 0x55};
    XmModule odd = withSample(s);
    odd.instruments[0].samples.push_back(sample({5, -6}, false, XmLoop::none, 0, 0));
    odd.instruments.emplace_back().samples = {sample({300, -300}, true, XmLoop::none, 0, 0)};
    song = load(odd);
    expectSoundSong(song.get());
    v = song->instruments[0].samples[0]->data;
    EXPECT_TRUE(song->instruments[0].samples[0]->length == 3 && v[0] == 32767 && v[1] == -32767 &&
                v[2] == 1);
    v = song->instruments[0].samples[1]->data;
    EXPECT_TRUE(v[0] == 5 * 256 && v[1] == -6 * 256);
    v = song->instruments[1].samples[0]->data;
    EXPECT_TRUE(v[0] == 300 && v[1] == -300);
    EXPECT_EQ(consumedBytes(), int32_t(servedFile.size()));
}

TEST(Loader, SixteenSamplesAtMost) {
    XmModule m = richModule();
    XmInstrument& full = m.instruments.emplace_back();
    for (int k = 0; k < 16; ++k)
        full.samples.emplace_back().data = {int16_t(k)};
    SongPtr song = load(m);
    expectSoundSong(song.get());
    EXPECT_EQ(song->instruments[3].samples[15]->data[0], 15 * 256);
    // A 17th sample fails the whole load; what was read before is released (LSan).
    full.samples.emplace_back().data = {1};
    EXPECT_EQ(load(m).get(), nullptr);
}

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
