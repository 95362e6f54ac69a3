// Shared by the loader tests: modules served from a test buffer through the real
// memory-file callbacks, and the checks every loaded Song must pass whatever the input.
#pragma once
#include "app/memory.h"
#include "music/loader.h"
#include "music/module_source.h"
#include "tools/xmwriter/xm_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace loadertest {

struct SongFree {
    void operator()(Song* song) const { freeSong(song); }
};
using SongPtr = std::unique_ptr<Song, SongFree>;

inline std::vector<uint8_t> servedFile;

inline SongPtr load(const std::vector<uint8_t>& bytes) {
    servedFile = bytes;
    registerFileCallbacks(
        [](const char*) { return openMemoryFile(servedFile.data(), int32_t(servedFile.size())); },
        closeModuleFile, readModuleFile, seekModuleFile, tellModuleFile);
    return SongPtr(loadSong(nullptr));
}
inline SongPtr load(const XmModule& m) {
    return load(writeXm(m));
}

// Where the parser stopped reading the registered file.
inline int32_t consumedBytes() {
    ModuleStream* stream = openStream(nullptr);
    SongPtr song(static_cast<Song*>(allocBlock(sizeof(Song))));
    EXPECT_TRUE(parseModule(song.get(), stream));
    int32_t position = tellStream(stream);
    closeStream(stream);
    return position;
}

inline XmSample sample(std::vector<int16_t> data, bool sixteenBit, XmLoop loop, uint32_t start,
                       uint32_t length) {
    XmSample s;
    s.data = std::move(data);
    s.sixteenBit = sixteenBit;
    s.loop = loop;
    s.loopStart = start;
    s.loopLength = length;
    return s;
}

// One order, one pattern of one empty row.
inline XmModule tinyModule(int channels = 1) {
    XmModule m;
    m.channelCount = uint16_t(channels);
    m.orders = {0};
    m.patterns.push_back(xmPattern(1, channels));
    return m;
}

// Two channels; a packed, a stored-empty and a plain pattern; an instrument with
// envelopes and three samples (8-bit forward loop, 16-bit ping-pong, 8-bit unlooped),
// one without samples and one with a 16-bit forward loop.
inline XmModule richModule() {
    XmModule m;
    m.channelCount = 2;
    m.defaultSpeed = 5;
    m.defaultTempo = 130;
    m.orders = {0, 1, 0, 2};
    m.restartPosition = 1;
    XmPattern& p0 = m.patterns.emplace_back(xmPattern(4, 2));
    xmCell(p0, 2, 0, 0) = {xmNote("C-4"), 1, 0x40, 0x0F, 0x06};
    xmCell(p0, 2, 3, 0) = {97, 0, 0, 0x0C, 0x20};
    m.patterns.push_back(xmPattern(8, 2));
    XmPattern& p2 = m.patterns.emplace_back(xmPattern(2, 2));
    p2.packing = XmPacking::plain;
    xmCell(p2, 2, 1, 1) = {xmNote("G-5"), 1, 0x10, 0x04, 0x44};

    XmInstrument& a = m.instruments.emplace_back();
    a.sampleMap.fill(1);
    a.volumeEnvelope = {{{0, 64}, {8, 32}, {20, 0}}, 1, 0, 0, xmEnvelopeOn | xmEnvelopeSustain, {}};
    a.panningEnvelope = {{{0, 32}, {10, 50}}, 0, 0, 1, xmEnvelopeOn | xmEnvelopeLoop, {}};
    a.vibratoType = 1;
    a.vibratoRate = 4;
    a.fadeout = 0x8001; // doubled with 16-bit wrap-around: 2
    a.samples = {sample({0, 20, 40, 60, -60, -40, -20, 0, 10, 100}, false, XmLoop::forward, 2, 5),
                 sample({1000, -1000, 30000, -30000, 5, 6}, true, XmLoop::pingPong, 1, 3),
                 sample({1, 2, 3}, false, XmLoop::none, 0, 0)};
    a.samples[0].volume = 48;
    a.samples[0].finetune = -16;
    a.samples[0].panning = 200;
    a.samples[0].relativeNote = -12;
    m.instruments.emplace_back();
    m.instruments.emplace_back().samples = {sample({-5, 7, -9, 11}, true, XmLoop::forward, 0, 4)};
    return m;
}

// What every loaded Song must satisfy, whatever bytes it came from: everything the engine
// and the mixer index lies inside its allocation (reading it all lets ASan look).
inline void expectSoundSong(const Song* song) {
    ASSERT_NE(song, nullptr);
    EXPECT_TRUE(song->songLength >= 1 && song->songLength <= 256);
    EXPECT_TRUE(song->channelCount >= 1 && song->channelCount <= 32);
    EXPECT_TRUE(song->restartPosition >= 0 && song->restartPosition < song->songLength);
    for (int32_t i = 0; i < song->songLength; ++i)
        EXPECT_LT(song->orderTable[i], song->patternCount);
    for (int32_t p = 0; p < song->patternCount; ++p) {
        const Pattern& pattern = song->patterns[p];
        ASSERT_TRUE(pattern.rowCount >= 1 && pattern.rowCount <= 256);
        for (int32_t i = 0; i < pattern.rowCount * song->channelCount; ++i) {
            const PatternCell& cell = pattern.cells[i];
            EXPECT_TRUE((cell.note <= 96 || cell.note == 255) && cell.instrument <= 128);
        }
    }
    EXPECT_LE(song->instrumentCount, 128);
    for (int32_t i = 0; i < song->instrumentCount; ++i) {
        const Instrument& ins = song->instruments[i];
        EXPECT_TRUE(ins.volumePointCount <= 12 && ins.panningPointCount <= 12);
        EXPECT_TRUE(ins.volumeLoopStart < 20 && ins.panningLoopStart < 20);
        for (int32_t k = 0; k < 16; ++k) {
            const Sample* s = ins.samples[k];
            if (k >= ins.sampleCount) {
                EXPECT_EQ(s, &emptySample);
                continue;
            }
            EXPECT_EQ(s->data == nullptr, s->length == 0);
            EXPECT_LE(uint64_t(s->loopStart) + s->loopLength, s->length);
            EXPECT_TRUE(s->loopType == 1
                            ? s->loopStart == 0 && s->loopLength == s->length
                            : (s->loopType == 2 || s->loopType == 4) && s->loopLength > 0);
            if (s->length > 0) {
                volatile int16_t lastGuard = s->data[s->length + 7];
                (void)lastGuard;
            }
        }
    }
}

} // namespace loadertest
