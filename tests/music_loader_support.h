// Shared by the loader tests: modules served from a test buffer through the real
// memory-file callbacks, and the checks every loaded Song must pass whatever the input.
#pragma once
#include "app/memory.h"
#include "music/loader.h"
#include "music/module_source.h"
#include "tools/xmwriter/xm_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace loadertest {

inline std::vector<uint8_t>& servedFile() {
    static std::vector<uint8_t> bytes;
    return bytes;
}

inline void* openServed(const char*) {
    return openMemoryFile(servedFile().data(), int32_t(servedFile().size()));
}

inline void serve(const std::vector<uint8_t>& bytes) {
    servedFile() = bytes;
    registerFileCallbacks(openServed, closeModuleFile, readModuleFile, seekModuleFile,
                          tellModuleFile);
}

inline Song* loadBytes(const std::vector<uint8_t>& bytes) {
    serve(bytes);
    return loadSong(nullptr);
}

// Bytes the parser consumes: parse through a stream of our own and ask where it stopped.
inline int32_t consumedBytes(const std::vector<uint8_t>& bytes, bool* parsed = nullptr) {
    serve(bytes);
    ModuleStream* stream = openStream(nullptr);
    auto* song = static_cast<Song*>(allocBlock(sizeof(Song)));
    bool ok = parseModule(song, stream);
    int32_t position = tellStream(stream);
    closeStream(stream);
    if (parsed) *parsed = ok;
    // parseModule leaves its allocations in the Song: hand it to freeSong.
    freeSong(song);
    return position;
}

// A module with a bit of everything: two channels, packed and stored-empty patterns,
// an instrument with envelopes and three samples (8-bit forward loop, 16-bit ping-pong,
// 8-bit without loop), an instrument without samples and a 16-bit forward loop one.
inline XmModule richModule() {
    XmModule m;
    m.channelCount = 2;
    m.defaultSpeed = 5;
    m.defaultTempo = 130;
    m.orders = {0, 1, 0, 2};
    m.restartPosition = 1;
    XmPattern& p0 = m.patterns.emplace_back(xmPattern(4, 2));
    xmCell(p0, 2, 0, 0) = {xmNote("C-4"), 1, 0x40, 0x0F, 0x06};
    xmCell(p0, 2, 1, 1) = {xmNote("E-4"), 3, 0, 0, 0};
    xmCell(p0, 2, 3, 0) = {97, 0, 0, 0x0C, 0x20};
    m.patterns.push_back(xmPattern(8, 2));
    XmPattern& p2 = m.patterns.emplace_back(xmPattern(2, 2));
    p2.packing = XmPacking::plain;
    xmCell(p2, 2, 1, 1) = {xmNote("G-5"), 1, 0x10, 0x04, 0x44};

    XmInstrument& a = m.instruments.emplace_back();
    a.name = "lead";
    a.sampleMap.fill(1);
    a.sampleMap[0] = 0;
    a.volumeEnvelope.points = {{0, 64}, {8, 32}, {20, 0}};
    a.volumeEnvelope.type = xmEnvelopeOn | xmEnvelopeSustain;
    a.volumeEnvelope.sustain = 1;
    a.panningEnvelope.points = {{0, 32}, {10, 50}};
    a.panningEnvelope.type = xmEnvelopeOn | xmEnvelopeLoop;
    a.panningEnvelope.loopEnd = 1;
    a.vibratoType = 1;
    a.vibratoSweep = 2;
    a.vibratoDepth = 3;
    a.vibratoRate = 4;
    a.fadeout = 300;
    XmSample& s0 = a.samples.emplace_back();
    s0.data = {0, 20, 40, 60, -60, -40, -20, 0, 10, 100};
    s0.loop = XmLoop::forward;
    s0.loopStart = 2;
    s0.loopLength = 5;
    s0.volume = 48;
    s0.finetune = -16;
    s0.panning = 200;
    s0.relativeNote = -12;
    XmSample& s1 = a.samples.emplace_back();
    s1.sixteenBit = true;
    s1.data = {1000, -1000, 30000, -30000, 5, 6};
    s1.loop = XmLoop::pingPong;
    s1.loopStart = 1;
    s1.loopLength = 3;
    XmSample& s2 = a.samples.emplace_back();
    s2.data = {1, 2, 3};

    m.instruments.emplace_back().name = "silent";

    XmInstrument& c = m.instruments.emplace_back();
    XmSample& s3 = c.samples.emplace_back();
    s3.sixteenBit = true;
    s3.data = {-5, 7, -9, 11};
    s3.loop = XmLoop::forward;
    s3.loopStart = 0;
    s3.loopLength = 4;
    return m;
}

// What every loaded Song must satisfy, whatever bytes it came from: the tables the engine
// and mixer index are inside their allocations.
inline void expectSoundSong(const Song* song) {
    ASSERT_NE(song, nullptr);
    EXPECT_GE(song->songLength, 1);
    EXPECT_LE(song->songLength, 256);
    EXPECT_GE(song->channelCount, 1);
    EXPECT_LE(song->channelCount, 32);
    EXPECT_LT(song->restartPosition, song->songLength);
    EXPECT_GE(song->restartPosition, 0);
    EXPECT_LE(song->usedPatternCount, song->patternCount);
    for (int32_t i = 0; i < song->songLength; ++i)
        EXPECT_LT(song->orderTable[i], song->patternCount);
    ASSERT_NE(song->patterns, nullptr);
    for (int32_t p = 0; p < song->patternCount; ++p) {
        const Pattern& pattern = song->patterns[p];
        EXPECT_GE(pattern.rowCount, 1);
        EXPECT_LE(pattern.rowCount, 256);
        ASSERT_NE(pattern.cells, nullptr);
        for (int32_t i = 0; i < pattern.rowCount * song->channelCount; ++i) {
            const PatternCell& cell = pattern.cells[i]; // reading them all lets ASan look
            EXPECT_TRUE(cell.note <= 96 || cell.note == 255);
            EXPECT_LE(cell.instrument, 128);
        }
    }
    EXPECT_LE(song->instrumentCount, 128);
    ASSERT_NE(song->instruments, nullptr);
    for (int32_t i = 0; i < song->instrumentCount; ++i) {
        const Instrument& ins = song->instruments[i];
        EXPECT_GE(ins.sampleCount, 0);
        EXPECT_LE(ins.sampleCount, 16);
        EXPECT_LE(ins.volumePointCount, 12);
        EXPECT_LE(ins.panningPointCount, 12);
        EXPECT_LT(ins.volumeLoopStart, 20);
        EXPECT_LT(ins.panningLoopStart, 20);
        for (int32_t k = 0; k < 16; ++k) {
            const Sample* s = ins.samples[k];
            ASSERT_NE(s, nullptr);
            if (k >= ins.sampleCount) {
                EXPECT_EQ(s, &emptySample);
                continue;
            }
            EXPECT_EQ(s->data == nullptr, s->length == 0);
            EXPECT_TRUE(s->loopType == 1 || s->loopType == 2 || s->loopType == 4);
            EXPECT_LE(uint64_t(s->loopStart) + s->loopLength, s->length);
            if (s->loopType == 1) {
                EXPECT_EQ(s->loopStart, 0u);
                EXPECT_EQ(s->loopLength, s->length);
            } else {
                EXPECT_GT(s->loopLength, 0u);
            }
            if (s->length > 0) {
                EXPECT_EQ(s->bits, 16);
                volatile int16_t last = s->data[s->length + 7]; // the guard slots exist
                (void)last;
            }
        }
    }
}

} // namespace loadertest
