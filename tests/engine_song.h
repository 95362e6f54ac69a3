// A song built in memory for the engine tests and benchmark, with the playback
// state playSong would set, driven tick by tick through advanceSong.
#pragma once
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
    std::deque<Instrument> instruments; // copied into `bound` by start()
    std::vector<Instrument> bound;
    std::deque<Sample> samples;
    std::deque<std::vector<int16_t>> data;

    explicit TestSong(int channels, bool linear = true, int speed = 6) {
        song.channelCount = static_cast<int16_t>(channels);
        song.flags = linear ? 1 : 0;
        song.defaultSpeed = static_cast<int16_t>(speed);
        song.initialGlobalVolume = 64;
        setOrders({0});
    }
    int addPattern(int rows) {
        cells.emplace_back(size_t(rows) * song.channelCount);
        patterns.push_back(Pattern{rows, nullptr});
        return static_cast<int>(patterns.size()) - 1;
    }
    // Note 1..96 (49 = C-4) or 255 key off; instrument 1-based.
    void put(int p, int row, int c, uint8_t note, uint8_t instrument, uint8_t volume = 0,
             uint8_t effect = 0, uint8_t parameter = 0) {
        cells[p][size_t(row) * song.channelCount + c] = {note, instrument, volume, effect,
                                                         parameter};
    }
    void setOrders(std::vector<uint8_t> orders, int restart = 0) {
        song.songLength = static_cast<int16_t>(orders.size());
        song.restartPosition = static_cast<int16_t>(restart);
        std::copy(orders.begin(), orders.end(), song.orderTable);
    }
    // An instrument mapping every note to one new non-looping sample.
    Instrument& addInstrument(uint8_t volume = 64, uint32_t length = 1000, int8_t relativeNote = 0,
                              int8_t finetune = 0) {
        Sample& s =
            samples.emplace_back(Sample{data.emplace_back(length + 8, 1000).data(), length, 0,
                                        length, volume, finetune, 128, 16, 1, relativeNote});
        Instrument& in = instruments.emplace_back();
        std::fill(std::begin(in.samples), std::end(in.samples), &emptySample);
        in.samples[0] = &s;
        in.sampleCount = 1;
        return in;
    }
    Sample& sample(int instrument) { return *instruments[instrument].samples[0]; }

    Song* start() {
        for (size_t p = 0; p < patterns.size(); ++p)
            patterns[p].cells = cells[p].data();
        song.patterns = patterns.data();
        song.patternCount = static_cast<int32_t>(patterns.size());
        bound.assign(instruments.begin(), instruments.end());
        song.instruments = bound.data();
        song.instrumentCount = static_cast<int16_t>(bound.size());
        song.globalVolume = 64;
        song.nextOrder = song.nextRow = -1;
        song.speed = song.defaultSpeed;
        song.orderPosition = song.row = song.tick = song.patternDelayTicks = 0;
        sampleRate = 44100;
        for (int i = 0; i < mixChannelCount; ++i) {
            mixChannels[i] = MixChannel{};
            mixChannels[i].number = i;
        }
        resetSongChannels(song.channelCount);
        return &song;
    }
    void tick(int n = 1) {
        for (int i = 0; i < n; ++i)
            advanceSong(&song);
    }
    // Plays to the next row tick; returns the ticks played.
    int row() {
        int n = 0;
        do {
            tick();
            ++n;
        } while (song.tick != 0);
        return n;
    }
    // The probe's value after each of n ticks.
    template <typename Probe> std::vector<int> trace(int n, Probe probe) {
        std::vector<int> values;
        for (int i = 0; i < n; ++i) {
            tick();
            values.push_back(static_cast<int>(probe()));
        }
        return values;
    }
};

inline SongChannel& channel(int c) {
    return songChannels[c];
}
inline MixChannel& voiceOf(int c) {
    return *songChannels[c].voice;
}
using Values = std::vector<int>;
