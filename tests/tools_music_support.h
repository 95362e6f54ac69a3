// Shared by the music content tests: renders an XM module through the real player (loader,
// engine, mixer and block ring over the virtual wave output, driven block by block without
// the mixing thread), records the song position and the instruments named at every row
// tick, and measures levels over the render.
#pragma once
#include "assets/module_asset.h"
#include "audio/output.h"
#include "audio/waveout_virtual.h"
#include "music/song.h"
#include "music_loader_support.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace musictest {

constexpr int32_t rate = 44100;

struct RowTick {
    int32_t order, row;
    int64_t frame;                    // first frame of the row
    std::vector<uint8_t> instruments; // named by the row's cells
};

struct Render {
    std::vector<int16_t> samples; // interleaved stereo, left first
    std::vector<RowTick> rows;
    int32_t restartPosition = 0; // copied from the song, which is gone after the render
    int64_t frames() const { return int64_t(samples.size() / 2); }
};

// The XM bytes of the module embedded in the intro (after its byte count).
inline std::vector<uint8_t> embeddedModule() {
    uint32_t count = 0;
    std::memcpy(&count, moduleImage, 4);
    return std::vector<uint8_t>(moduleImage + 4, moduleImage + 4 + count);
}

// The engine's tick handler, wrapped: before a row tick, notes the row about to be played
// (a pending jump already applied) and the instruments its cells name.
inline TickHandler engineTick = nullptr;
inline Render* recording = nullptr;
inline int64_t recordedFrames = 0;
inline void recordingTick(Song* song) {
    if (song->tick == 0) {
        RowTick t{song->nextOrder >= 0 ? song->nextOrder : song->orderPosition,
                  song->nextRow >= 0 ? song->nextRow : song->row,
                  recordedFrames,
                  {}};
        const Pattern& p = song->patterns[song->orderTable[t.order]];
        for (int32_t c = 0; p.cells && t.row < p.rowCount && c < song->channelCount; ++c)
            if (uint8_t i = p.cells[t.row * song->channelCount + c].instrument)
                t.instruments.push_back(i);
        recording->rows.push_back(std::move(t));
    }
    engineTick(song);
    recordedFrames += song->samplesPerTick;
}

// Renders `seconds` of the module from its start. An empty render means the module did
// not load.
inline Render renderModule(const std::vector<uint8_t>& xm, double seconds) {
    Render out;
    Song* song = loadertest::load(xm).release(); // the file callbacks stay registered
    if (!song || !openSoundOutput(rate)) {
        freeSong(song);
        return out;
    }
    out.restartPosition = song->restartPosition;
    engineTick = song->tickHandler, recording = &out, recordedFrames = 0;
    song->tickHandler = recordingTick;
    setMixingThreadEnabled(false);
    playSong(song);
    int64_t blocks = int64_t(seconds * rate) / blockFrames + 1;
    for (int64_t k = 0; k < blocks; ++k) {
        // Block k of the stream sits in ring slot k mod blockCount until the device has
        // played it; then the slot is rendered again with block k + blockCount.
        const int16_t* slot = virtualRing() + 2 * int64_t(k % blockCount) * blockFrames;
        out.samples.insert(out.samples.end(), slot, slot + 2 * blockFrames);
        advanceVirtualPosition(uint64_t(blockFrames) * 4);
        pollOutputOnce();
    }
    freeSong(song);
    closeSoundOutput();
    setMixingThreadEnabled(true);
    return out;
}

// ---- Measures over frames [from, to) of a render ----

inline double toDbfs(double value) {
    return 20.0 * std::log10(std::max(value, 1e-9) / 32768.0);
}

inline double rmsDbfs(const Render& r, int64_t from, int64_t to) {
    from = std::clamp<int64_t>(from, 0, r.frames());
    to = std::clamp<int64_t>(to, from, r.frames());
    double sum = 0;
    for (int64_t i = 2 * from; i < 2 * to; ++i)
        sum += double(r.samples[size_t(i)]) * r.samples[size_t(i)];
    return toDbfs(to > from ? std::sqrt(sum / double(2 * (to - from))) : 0);
}

} // namespace musictest
