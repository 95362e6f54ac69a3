// A song built directly in memory for the engine tests: patterns of cells,
// instruments with one or more samples, and the playback state playSong would set,
// driven tick by tick through advanceSong.
#pragma once
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "audio/mixer.h"
#include "audio/output.h"
#include "music/song.h"
#include "music/song_channel.h"
#include "music/tick_processing.h"

struct TestSong {
    Song song{};
    std::deque<std::vector<PatternCell>> cells;
    std::vector<Pattern> patterns;
    std::deque<Instrument> instruments;
    std::deque<Sample> samples;
    std::deque<std::vector<int16_t>> sampleData;
    std::vector<Instrument> instrumentArray;

    explicit TestSong(int channels, bool linear = true, int speed = 6) {
        song.channelCount = static_cast<int16_t>(channels);
        song.flags = linear ? 1 : 0;
        song.defaultSpeed = static_cast<int16_t>(speed);
        song.defaultTempo = 125;
        song.initialGlobalVolume = 64;
    }

    // A pattern of `rows` empty rows; returns its number.
    int addPattern(int rows) {
        cells.emplace_back(size_t(rows) * song.channelCount);
        patterns.push_back(Pattern{rows, nullptr});
        return static_cast<int>(patterns.size()) - 1;
    }

    PatternCell& cell(int pattern, int row, int channel) {
        return cells[pattern][size_t(row) * song.channelCount + channel];
    }

    // Sets a cell: note 1..96 (49 = C-4), 255 key off; instrument 1-based.
    void put(int pattern, int row, int channel, uint8_t note, uint8_t instrument,
             uint8_t volume = 0, uint8_t effect = 0, uint8_t parameter = 0) {
        cell(pattern, row, channel) = PatternCell{note, instrument, volume, effect, parameter};
    }

    void setOrders(std::vector<uint8_t> orders, int restart = 0) {
        song.songLength = static_cast<int16_t>(orders.size());
        song.restartPosition = static_cast<int16_t>(restart);
        std::memset(song.orderTable, 0, sizeof song.orderTable);
        for (size_t i = 0; i < orders.size(); ++i)
            song.orderTable[i] = orders[i];
    }

    // An instrument whose whole note range maps to one new sample of `length`
    // values (no loop); returns its index (0-based).
    int addInstrument(uint8_t volume = 64, uint32_t length = 1000, int8_t relativeNote = 0,
                      int8_t finetune = 0) {
        Instrument& in = instruments.emplace_back();
        in = Instrument{};
        for (auto& slot : in.samples)
            slot = &emptySample;
        in.samples[0] = &addSample(volume, length, relativeNote, finetune);
        in.sampleCount = 1;
        return static_cast<int>(instruments.size()) - 1;
    }

    Sample& addSample(uint8_t volume, uint32_t length, int8_t relativeNote = 0,
                      int8_t finetune = 0) {
        Sample& s = samples.emplace_back();
        s = Sample{};
        auto& data = sampleData.emplace_back(length + 8, int16_t(1000));
        s.data = data.data();
        s.length = length;
        s.loopStart = 0;
        s.loopLength = length;
        s.loopType = 1;
        s.bits = 16;
        s.volume = volume;
        s.panning = 128;
        s.relativeNote = relativeNote;
        s.finetune = finetune;
        return s;
    }

    Instrument& instrument(int index) { return instruments[index]; }
    Sample& sample(int instrumentIndex, int slot = 0) {
        return *instruments[instrumentIndex].samples[slot];
    }

    // Binds the data and resets the playback state as playSong does (without audio).
    Song* start() {
        for (size_t p = 0; p < patterns.size(); ++p)
            patterns[p].cells = cells[p].data();
        song.patterns = patterns.data();
        song.patternCount = static_cast<int32_t>(patterns.size());
        instrumentArray.assign(instruments.begin(), instruments.end());
        song.instruments = instrumentArray.data();
        song.instrumentCount = static_cast<int16_t>(instrumentArray.size());
        if (song.songLength == 0) setOrders({0});
        song.globalVolume = song.initialGlobalVolume;
        song.nextOrder = -1;
        song.nextRow = -1;
        song.speed = song.defaultSpeed;
        song.tempo = song.defaultTempo;
        song.orderPosition = 0;
        song.row = 0;
        song.tick = 0;
        song.patternDelayTicks = 0;
        song.tickHandler = advanceSong;
        sampleRate = 44100;
        std::memset(static_cast<void*>(mixChannels), 0, sizeof mixChannels);
        for (int i = 0; i < mixChannelCount; ++i) {
            mixChannels[i].number = i;
            mixChannels[i].step = 1;
        }
        resetSongChannels(song.channelCount);
        return &song;
    }

    // After start(): instruments live in instrumentArray.
    Instrument& live(int index) { return instrumentArray[index]; }

    void tick() { advanceSong(&song); }
    void ticks(int n) {
        for (int i = 0; i < n; ++i)
            advanceSong(&song);
    }
    // Plays ticks until the next row tick is due; returns how many were played.
    int finishRow() {
        int n = 0;
        do {
            advanceSong(&song);
            ++n;
        } while (song.tick != 0);
        return n;
    }
};

inline SongChannel& channel(int c) {
    return songChannels[c];
}
inline MixChannel& voiceOf(int c) {
    return *songChannels[c].voice;
}
