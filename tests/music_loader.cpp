// The XM loader on well-formed modules: header and order table, cell decoding in every
// packing, instruments and envelopes, sample conversion (loop types, 16-bit halving,
// delta decoding, guard slots), the sample-count limit and the embedded module.
#include "music_loader_support.h"

#include "assets/module_asset.h"
#include "music/tick_processing.h"

#include <gtest/gtest.h>

namespace {

using loadertest::consumedBytes;
using loadertest::expectSoundSong;
using loadertest::loadBytes;
using loadertest::richModule;

XmModule patternsOnly(int channels, std::vector<XmPattern> patterns) {
    XmModule m;
    m.channelCount = uint16_t(channels);
    m.orders = {0};
    m.patterns = std::move(patterns);
    return m;
}

XmModule oneSample(const XmSample& s) {
    XmModule m = patternsOnly(1, {xmPattern(1, 1)});
    m.instruments.emplace_back().samples.push_back(s);
    return m;
}

bool sameCell(const PatternCell& c, uint8_t note, uint8_t instrument, uint8_t volume,
              uint8_t effect, uint8_t parameter) {
    return c.note == note && c.instrument == instrument && c.volume == volume &&
           c.effect == effect && c.parameter == parameter;
}

TEST(Loader, HeaderOrdersAndPatternCounts) {
    Song* song = loadBytes(writeXm(richModule()));
    expectSoundSong(song);
    EXPECT_EQ(song->songLength, 4);
    EXPECT_EQ(song->restartPosition, 1);
    EXPECT_EQ(song->channelCount, 2);
    EXPECT_EQ(song->flags, 1);
    EXPECT_EQ(song->defaultSpeed, 5);
    EXPECT_EQ(song->defaultTempo, 130);
    EXPECT_EQ(song->instrumentCount, 3);
    EXPECT_EQ(song->usedPatternCount, 3);
    EXPECT_EQ(song->patternCount, 3);
    EXPECT_EQ(song->orderTable[1], 1);
    EXPECT_EQ(song->orderTable[3], 2);
    EXPECT_EQ(song->initialGlobalVolume, 64);
    EXPECT_EQ(song->tickHandler, &advanceSong);
    // Playback state is left for playSong.
    EXPECT_EQ(song->globalVolume, 0);
    EXPECT_EQ(song->speed, 0);
    EXPECT_EQ(song->tempo, 0);
    EXPECT_EQ(song->samplesPerTick, 0);
    EXPECT_EQ(song->nextRow, 0);
    EXPECT_TRUE(freeSong(song));
    EXPECT_FALSE(freeSong(nullptr));

    // Orders naming patterns that are not stored: 12 stored, pattern 14 named.
    std::vector<XmPattern> twelve;
    for (int i = 0; i < 12; ++i)
        twelve.push_back(xmPattern(2, 3));
    xmCell(twelve[11], 3, 1, 2) = {xmNote("A-4"), 5, 0, 0, 0};
    XmModule m = patternsOnly(3, twelve);
    m.orders = {0, 14, 11};
    std::vector<uint8_t> bytes = writeXm(m);
    song = loadBytes(bytes);
    expectSoundSong(song);
    EXPECT_EQ(song->usedPatternCount, 15);
    EXPECT_EQ(song->patternCount, 15);
    EXPECT_TRUE(sameCell(song->patterns[11].cells[5], 58, 5, 0, 0, 0));
    for (int p = 12; p < 15; ++p) {
        EXPECT_EQ(song->patterns[p].rowCount, 64);
        for (int i = 0; i < 64 * 3; ++i)
            EXPECT_TRUE(sameCell(song->patterns[p].cells[i], 0, 0, 0, 0, 0));
    }
    freeSong(song);
    EXPECT_EQ(consumedBytes(bytes), int32_t(bytes.size()));

    // More patterns stored than named; order entries past the song length do not count.
    m = patternsOnly(1, {xmPattern(1, 1), xmPattern(1, 1), xmPattern(1, 1)});
    m.orders = {1, 0, 200};
    m.songLength = 2;
    song = loadBytes(writeXm(m));
    expectSoundSong(song);
    EXPECT_EQ(song->usedPatternCount, 2);
    EXPECT_EQ(song->patternCount, 3);
    EXPECT_EQ(song->orderTable[2], 200);
    freeSong(song);
}

TEST(Loader, CellsInEveryPacking) {
    // Channel by channel: 0x80 empty (1 byte); 0x9F with all five; an unpacked cell whose
    // first byte is 0 (5 bytes); an unpacked note 97 with instrument 200; packed key off;
    // packed instrument 200; effect and parameter only; a note above 97.
    XmPattern raw = xmPattern(2, 4);
    raw.rawData = std::vector<uint8_t>{0x80, 0x9F, 49,  2,    0x30, 0x0A, 0x10, 0,    0,
                                       0,    0,    0,   97,   200,  0x10, 0x0F, 0x05, 0x81,
                                       97,   0x82, 200, 0x98, 0x0E, 0x60, 0x85, 98,   0x20};
    XmPattern stored = xmPattern(3, 4); // stays empty: packed size 0, nine bytes
    XmPattern noRows = xmPattern(0, 4);
    XmPattern after = xmPattern(1, 4);
    xmCell(after, 4, 0, 3) = {xmNote("B-7"), 128, 0xFF, 0x21, 0xFF};
    XmModule m = patternsOnly(4, {raw, stored, noRows, after});
    m.orders = {0, 1, 2, 3};
    std::vector<uint8_t> bytes = writeXm(m);
    Song* song = loadBytes(bytes);
    expectSoundSong(song);
    const PatternCell* c = song->patterns[0].cells;
    EXPECT_TRUE(sameCell(c[0], 0, 0, 0, 0, 0));
    EXPECT_TRUE(sameCell(c[1], 49, 2, 0x30, 0x0A, 0x10));
    EXPECT_TRUE(sameCell(c[2], 0, 0, 0, 0, 0));
    EXPECT_TRUE(sameCell(c[3], 255, 0, 0x10, 0x0F, 0x05));
    EXPECT_TRUE(sameCell(c[4], 255, 0, 0, 0, 0));
    EXPECT_TRUE(sameCell(c[5], 0, 0, 0, 0, 0));
    EXPECT_TRUE(sameCell(c[6], 0, 0, 0, 0x0E, 0x60));
    EXPECT_TRUE(sameCell(c[7], 0, 0, 0x20, 0, 0));
    EXPECT_EQ(song->patterns[1].rowCount, 3);
    for (int i = 0; i < 12; ++i)
        EXPECT_TRUE(sameCell(song->patterns[1].cells[i], 0, 0, 0, 0, 0));
    // No rows: played as one empty row.
    EXPECT_EQ(song->patterns[2].rowCount, 1);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(sameCell(song->patterns[2].cells[i], 0, 0, 0, 0, 0));
    // Everything before was consumed exactly, or this pattern would be misread.
    EXPECT_TRUE(sameCell(song->patterns[3].cells[3], 96, 128, 0xFF, 0x21, 0xFF));
    freeSong(song);
    EXPECT_EQ(consumedBytes(bytes), int32_t(bytes.size()));

    // The same cells written compact, plain, flagged, and empty cells written out as 0x80.
    XmPattern cells = xmPattern(3, 2);
    xmCell(cells, 2, 0, 0) = {xmNote("C-0"), 1, 0x40, 0x0F, 0x06}; // all five present
    xmCell(cells, 2, 1, 1) = {0, 0, 0, 0x0B, 0x02};
    xmCell(cells, 2, 2, 0) = {97, 3, 0, 0, 0};
    for (XmPacking packing : {XmPacking::compact, XmPacking::plain, XmPacking::flagged}) {
        XmPattern p = cells;
        p.packing = packing;
        XmPattern blank = xmPattern(2, 2);
        blank.packing = packing;
        blank.emptyAsZeroSize = false;
        XmModule pm = patternsOnly(2, {p, blank, cells});
        std::vector<uint8_t> pb = writeXm(pm);
        song = loadBytes(pb);
        expectSoundSong(song);
        for (int pattern : {0, 2}) {
            const PatternCell* d = song->patterns[pattern].cells;
            EXPECT_TRUE(sameCell(d[0], 1, 1, 0x40, 0x0F, 0x06));
            EXPECT_TRUE(sameCell(d[3], 0, 0, 0, 0x0B, 0x02));
            EXPECT_TRUE(sameCell(d[4], 255, 3, 0, 0, 0));
            EXPECT_TRUE(sameCell(d[1], 0, 0, 0, 0, 0));
        }
        freeSong(song);
        EXPECT_EQ(consumedBytes(pb), int32_t(pb.size()));
    }
}

TEST(Loader, InstrumentsAndEnvelopes) {
    XmModule m = richModule();
    m.instruments[0].fadeout = 0x8001; // doubled with 16-bit wrap-around: 2
    std::vector<uint8_t> bytes = writeXm(m);
    Song* song = loadBytes(bytes);
    expectSoundSong(song);
    const Instrument& a = song->instruments[0];
    EXPECT_EQ(a.sampleCount, 3);
    EXPECT_EQ(a.sampleMap[0], 0);
    EXPECT_EQ(a.sampleMap[95], 1);
    EXPECT_EQ(a.volumeEnvelope[1].x, 8);
    EXPECT_EQ(a.volumeEnvelope[1].y, 32);
    EXPECT_EQ(a.volumeEnvelope[2].x, 20);
    EXPECT_EQ(a.panningEnvelope[1].y, 50);
    for (int i = 3; i < 20; ++i)
        EXPECT_EQ(a.volumeEnvelope[i].x + a.volumeEnvelope[i].y, 0);
    EXPECT_EQ(a.volumePointCount, 3);
    EXPECT_EQ(a.panningPointCount, 2);
    EXPECT_EQ(a.volumeSustain, 1);
    EXPECT_EQ(a.panningLoopEnd, 1);
    EXPECT_EQ(a.volumeType, xmEnvelopeOn | xmEnvelopeSustain);
    EXPECT_EQ(a.panningType, xmEnvelopeOn | xmEnvelopeLoop);
    EXPECT_EQ(a.vibratoType, 1);
    EXPECT_EQ(a.vibratoSweep, 2);
    EXPECT_EQ(a.vibratoDepth, 3);
    EXPECT_EQ(a.vibratoRate, 4);
    EXPECT_EQ(a.fadeout, 2);
    for (int k = 3; k < 16; ++k)
        EXPECT_EQ(a.samples[k], &emptySample);
    const Instrument& silent = song->instruments[1];
    EXPECT_EQ(silent.sampleCount, 0);
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(silent.samples[k], &emptySample);
    EXPECT_EQ(song->instruments[2].sampleCount, 1);
    freeSong(song);
    EXPECT_EQ(consumedBytes(bytes), int32_t(bytes.size()));

    // Envelopes of fewer than two points are switched off; header sizes other than the
    // usual are followed (padding skipped), with and without samples.
    m = richModule();
    m.instruments[0].volumeEnvelope.points = {{0, 40}};
    m.instruments[0].volumeEnvelope.type = 7;
    m.instruments[0].panningEnvelope.points = {};
    m.instruments[0].panningEnvelope.type = 1;
    m.instruments[0].fadeout = 1000;
    m.instruments[0].headerSize = 300;
    m.instruments[1].headerSize = 263;
    bytes = writeXm(m);
    song = loadBytes(bytes);
    expectSoundSong(song);
    EXPECT_EQ(song->instruments[0].volumeType, 0);
    EXPECT_EQ(song->instruments[0].panningType, 0);
    EXPECT_EQ(song->instruments[0].volumeEnvelope[0].y, 40);
    EXPECT_EQ(song->instruments[0].fadeout, 2000);
    EXPECT_EQ(song->instruments[0].samples[0]->volume, 48);
    EXPECT_EQ(song->instruments[2].samples[0]->data[3], 11);
    freeSong(song);
    EXPECT_EQ(consumedBytes(bytes), int32_t(bytes.size()));
}

TEST(Loader, SampleConversionLoopsAndGuards) {
    Song* song = loadBytes(writeXm(richModule()));
    expectSoundSong(song);
    const Sample& s0 = *song->instruments[0].samples[0];
    EXPECT_EQ(s0.length, 10u);
    EXPECT_EQ(s0.loopType, 2);
    EXPECT_EQ(s0.loopStart, 2u);
    EXPECT_EQ(s0.loopLength, 5u);
    EXPECT_EQ(s0.bits, 16);
    EXPECT_EQ(s0.volume, 48);
    EXPECT_EQ(s0.finetune, -16);
    EXPECT_EQ(s0.panning, 200);
    EXPECT_EQ(s0.relativeNote, -12);
    const int16_t expect0[] = {0, 20, 40, 60, -60, -40, -20, 0, 10, 100};
    for (int i = 0; i < 10; ++i)
        if (i != 7) {
            EXPECT_EQ(s0.data[i], expect0[i] * 256) << i;
        }
    // Forward loop: the guard at the loop end (inside the data here, never played past)
    // takes the loop start's value.
    EXPECT_EQ(s0.data[7], s0.data[2]);
    const Sample& s1 = *song->instruments[0].samples[1];
    EXPECT_EQ(s1.length, 6u);
    EXPECT_EQ(s1.loopType, 4);
    EXPECT_EQ(s1.loopStart, 1u);
    EXPECT_EQ(s1.loopLength, 3u);
    EXPECT_EQ(s1.data[2], 30000);
    EXPECT_EQ(s1.data[3], -30000);
    EXPECT_EQ(s1.data[4], s1.data[3]); // ping-pong: guard = the value before the loop end
    const Sample& s2 = *song->instruments[0].samples[2];
    EXPECT_EQ(s2.loopType, 1);
    EXPECT_EQ(s2.loopStart, 0u);
    EXPECT_EQ(s2.loopLength, 3u);
    EXPECT_EQ(s2.data[2], 3 * 256);
    for (int i = 3; i < 11; ++i)
        EXPECT_EQ(s2.data[i], 0); // no loop: guards stay 0
    const Sample& s3 = *song->instruments[2].samples[0];
    EXPECT_EQ(s3.data[4], s3.data[0]);
    EXPECT_EQ(s3.data[3], 11);
    freeSong(song);

    // Type 3 loops ping-pong; a loop length of 0 plays once.
    XmSample s;
    s.data = {1, 2, 3, 4};
    s.typeByte = 3;
    s.loopStartBytes = 1;
    s.loopLengthBytes = 2;
    song = loadBytes(writeXm(oneSample(s)));
    expectSoundSong(song);
    EXPECT_EQ(song->instruments[0].samples[0]->loopType, 4);
    freeSong(song);
    s.loopLengthBytes = 0;
    song = loadBytes(writeXm(oneSample(s)));
    const Sample* once = song->instruments[0].samples[0];
    EXPECT_EQ(once->loopType, 1);
    EXPECT_EQ(once->loopStart, 0u);
    EXPECT_EQ(once->loopLength, 4u);
    freeSong(song);

    // 16-bit: 1000 bytes, loop 200 + 600 bytes become 500 samples, loop 100..400.
    XmSample wide;
    wide.sixteenBit = true;
    wide.data.assign(500, 0);
    wide.loop = XmLoop::forward;
    wide.loopStart = 100;
    wide.loopLength = 300;
    song = loadBytes(writeXm(oneSample(wide)));
    expectSoundSong(song);
    const Sample* w = song->instruments[0].samples[0];
    EXPECT_EQ(w->length, 500u);
    EXPECT_EQ(w->loopStart, 100u);
    EXPECT_EQ(w->loopLength, 300u);
    freeSong(song);

    // Deltas: 8-bit 10, -20 -> 2560, -2560; wrap-around in 8 and in 16 bits.
    XmSample d8;
    d8.rawData = std::vector<uint8_t>{10, 0xEC, 0x7F, 0x7F, 0x02};
    song = loadBytes(writeXm(oneSample(d8)));
    const int16_t* v = song->instruments[0].samples[0]->data;
    EXPECT_EQ(v[0], 2560);
    EXPECT_EQ(v[1], -2560);
    EXPECT_EQ(v[2], 29952); // -2560 + 32512
    EXPECT_EQ(v[3], -3072); // 29952 + 32512 wraps
    EXPECT_EQ(v[4], -2560);
    freeSong(song);
    XmSample d16;
    d16.sixteenBit = true;
    d16.rawData = std::vector<uint8_t>{0xFF, 0x7F, 0x02, 0x00, 0x00, 0x80};
    song = loadBytes(writeXm(oneSample(d16)));
    v = song->instruments[0].samples[0]->data;
    EXPECT_EQ(song->instruments[0].samples[0]->length, 3u);
    EXPECT_EQ(v[0], 32767);
    EXPECT_EQ(v[1], -32767);
    EXPECT_EQ(v[2], 1);
    freeSong(song);

    // The writer's coding round-trips arbitrary values in both widths.
    XmSample r8, r16;
    r16.sixteenBit = true;
    for (int i = 0; i < 300; ++i) {
        r8.data.push_back(int16_t((i * 37) % 256 - 128));
        r16.data.push_back(int16_t(i * 7919 - 32768));
    }
    XmModule both = oneSample(r8);
    both.instruments[0].samples.push_back(r16);
    song = loadBytes(writeXm(both));
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(song->instruments[0].samples[0]->data[i], r8.data[i] * 256);
        EXPECT_EQ(song->instruments[0].samples[1]->data[i], r16.data[i]);
    }
    freeSong(song);
}

TEST(Loader, AtMostSixteenSamplesPerInstrument) {
    XmModule m = richModule();
    XmInstrument& full = m.instruments.emplace_back();
    for (int k = 0; k < 16; ++k)
        full.samples.emplace_back().data = {int16_t(k)};
    Song* song = loadBytes(writeXm(m));
    expectSoundSong(song);
    const Instrument& ins = song->instruments[3];
    EXPECT_EQ(ins.sampleCount, 16);
    for (int k = 0; k < 16; ++k) {
        ASSERT_NE(ins.samples[k], &emptySample);
        EXPECT_EQ(ins.samples[k]->data[0], k * 256);
    }
    freeSong(song);

    // A 17th sample fails the whole load; what was read before is released (LSan checks).
    full.samples.emplace_back().data = {1};
    EXPECT_EQ(loadBytes(writeXm(m)), nullptr);
}

TEST(Loader, EmbeddedModuleLoadsCompletely) {
    registerFileCallbacks(openModuleFile, closeModuleFile, readModuleFile, seekModuleFile,
                          tellModuleFile);
    Song* song = loadSong(nullptr);
    expectSoundSong(song);
    EXPECT_TRUE(freeSong(song));

    ModuleStream* stream = openStream(nullptr);
    ASSERT_NE(stream, nullptr);
    seekStream(stream, 0, 2);
    int32_t size = tellStream(stream);
    auto* parsed = static_cast<Song*>(allocBlock(sizeof(Song)));
    EXPECT_TRUE(parseModule(parsed, stream));
    EXPECT_EQ(tellStream(stream), size); // every byte of the module is read
    closeStream(stream);
    freeSong(parsed);
}

} // namespace
