// Shared by the music content tests: renders an XM module through the real player (loader,
// engine, mixer and block ring over the virtual wave output, driven block by block without
// the mixing thread) and records the song position of every row tick, plus the level
// measures the tests apply to the render.
#pragma once
#include "assets/module_asset.h"
#include "audio/output.h"
#include "audio/waveout_virtual.h"
#include "music/loader.h"
#include "music/module_source.h"
#include "music/song.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace musictest {

constexpr int32_t rate = 44100;

struct RowTick {
    int32_t order;
    int32_t row;
    int64_t frame; // first frame of the row
};

struct Render {
    std::vector<int16_t> samples; // interleaved stereo, left first
    std::vector<RowTick> rows;
    int32_t restartPosition = 0; // copied from the song, which is gone after the render
    std::vector<std::vector<uint8_t>> rowInstruments; // per row tick: instruments named
    int64_t frames() const { return int64_t(samples.size() / 2); }
};

// The XM bytes of the module embedded in the intro (after its byte count).
inline std::vector<uint8_t> embeddedModule() {
    uint32_t count = 0;
    std::memcpy(&count, moduleImage, 4);
    return std::vector<uint8_t>(moduleImage + 4, moduleImage + 4 + count);
}

// Serves XM bytes through the real file callbacks (the sound output opens only once they
// are registered).
inline void serveModule(const std::vector<uint8_t>& xm) {
    static std::vector<uint8_t> served;
    served = xm;
    registerFileCallbacks(
        [](const char*) { return openMemoryFile(served.data(), int32_t(served.size())); },
        closeModuleFile, readModuleFile, seekModuleFile, tellModuleFile);
}
// Loads XM bytes through the real loader; null when they do not load.
inline Song* loadModule(const std::vector<uint8_t>& xm) {
    serveModule(xm);
    return loadSong(nullptr);
}

namespace detail {

struct Recorder {
    TickHandler original = nullptr;
    int64_t frame = 0;
    Render* render = nullptr;
};
inline Recorder& recorder() {
    static Recorder r;
    return r;
}

// Wraps the engine's tick handler: before a row tick, notes the row about to be played
// (a pending jump already applied) and which instruments its cells name.
inline void recordingTick(Song* song) {
    Recorder& r = recorder();
    if (song->tick == 0) {
        int32_t order = song->nextOrder >= 0 ? song->nextOrder : song->orderPosition;
        int32_t row = song->nextRow >= 0 ? song->nextRow : song->row;
        r.render->rows.push_back({order, row, r.frame});
        std::vector<uint8_t> named;
        const Pattern& p = song->patterns[song->orderTable[order]];
        if (p.cells && row < p.rowCount)
            for (int32_t c = 0; c < song->channelCount; ++c)
                if (uint8_t i = p.cells[row * song->channelCount + c].instrument)
                    named.push_back(i);
        r.render->rowInstruments.push_back(std::move(named));
    }
    r.original(song);
    r.frame += song->samplesPerTick;
}

} // namespace detail

// Renders `seconds` of the module from its start. An empty render means the module did
// not load.
inline Render renderModule(const std::vector<uint8_t>& xm, double seconds) {
    Render out;
    serveModule(xm);
    if (!openSoundOutput(rate)) return out;
    Song* song = loadSong(nullptr);
    if (!song) {
        closeSoundOutput();
        return out;
    }
    out.restartPosition = song->restartPosition;
    detail::Recorder& r = detail::recorder();
    r = detail::Recorder{song->tickHandler, 0, &out};
    song->tickHandler = detail::recordingTick;

    setMixingThreadEnabled(false);
    playSong(song);
    int64_t blocks = int64_t(seconds * rate) / blockFrames + 1;
    out.samples.reserve(size_t(blocks * blockFrames * 2));
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
    return to > from ? toDbfs(std::sqrt(sum / double(2 * (to - from)))) : toDbfs(0);
}

inline int peakMagnitude(const Render& r, int64_t from, int64_t to) {
    int peak = 0;
    for (int64_t i = 2 * std::max<int64_t>(from, 0); i < 2 * std::min(to, r.frames()); ++i)
        peak = std::max(peak, std::abs(int(r.samples[size_t(i)])));
    return peak;
}

// Values at the ends of the 16-bit range: where the conversion clamps.
inline int64_t clippedValues(const Render& r) {
    int64_t n = 0;
    for (int16_t v : r.samples)
        if (v == 32767 || v == -32768) ++n;
    return n;
}

} // namespace musictest
