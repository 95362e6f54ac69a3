// Shared by the audio tests: samples laid out as the loader lays them out (exactly
// length + 8 slots, so AddressSanitizer sees any read beyond), voices set from plain
// numbers, and songs built in memory with tick handlers of the tests' own.
#pragma once
#include "audio/mixer.h"
#include "audio/output.h"
#include "music/module_source.h"
#include "music/song.h"

#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

namespace audiotest {

struct OwnedSample {
    std::unique_ptr<int16_t[]> data;
    Sample sample{};
};

// loopType 1 none, 2 forward, 4 ping-pong; the guard slot is filled as the loader does.
inline std::unique_ptr<OwnedSample> makeSample(const std::vector<int16_t>& values,
                                               uint8_t loopType = 1, uint32_t loopStart = 0,
                                               uint32_t loopLength = 0) {
    auto owned = std::make_unique<OwnedSample>();
    uint32_t length = static_cast<uint32_t>(values.size());
    owned->data.reset(new int16_t[length + 8]());
    std::copy(values.begin(), values.end(), owned->data.get());
    owned->sample = Sample{owned->data.get(), length, 0, length, 64, 0, 128, 16, loopType, 0};
    if (loopType != 1) {
        owned->sample.loopStart = loopStart;
        owned->sample.loopLength = loopLength;
        int16_t* end = owned->data.get() + loopStart + loopLength;
        *end = loopType == 4 ? end[-1] : owned->data[loopStart];
    }
    return owned;
}

// Values start, start + slope, start + 2 * slope, ...
inline std::vector<int16_t> line(size_t count, int start, int slope) {
    std::vector<int16_t> v(count);
    for (size_t i = 0; i < count; ++i)
        v[i] = static_cast<int16_t>(start + slope * int(i));
    return v;
}

// Values that look random: every sample differs from its neighbours.
inline std::vector<int16_t> hashNoise(size_t count) {
    std::vector<int16_t> v(count);
    for (size_t i = 0; i < count; ++i)
        v[i] = static_cast<int16_t>((i * 2654435761u) >> 16);
    return v;
}

inline uint64_t fixed(double value) {
    return static_cast<uint64_t>(value * 4294967296.0);
}

// A voice at `position` moving forwards by `step` (32.32 from doubles); the gains are
// steady unless rampFromZero, which starts a ramp from silence.
inline MixChannel& startVoice(int index, Sample* sample, double position, double step, int32_t left,
                              int32_t right, bool rampFromZero = false) {
    MixChannel& v = mixChannels[index];
    v = MixChannel{};
    v.number = index;
    v.sample = sample;
    v.direction = 1;
    v.position = static_cast<uint32_t>(fixed(position) >> 32);
    v.positionFraction = static_cast<uint32_t>(fixed(position));
    v.step = static_cast<int32_t>(fixed(step) >> 32);
    v.stepFraction = static_cast<uint32_t>(fixed(step));
    v.leftVolume = left;
    v.rightVolume = right;
    v.currentLeft = rampFromZero ? 0 : left * 256;
    v.currentRight = rampFromZero ? 0 : right * 256;
    return v;
}

inline void silenceAllVoices() {
    for (MixChannel& v : mixChannels)
        v = MixChannel{};
}

// Opens the output (over whichever wave output the test links) with the module file
// callbacks registered, the mixing thread on or off.
inline bool openOutput(int32_t rate = 44100, bool thread = false) {
    registerFileCallbacks(openModuleFile, closeModuleFile, readModuleFile, seekModuleFile,
                          tellModuleFile);
    setMixingThreadEnabled(thread);
    return openSoundOutput(rate);
}

inline std::unique_ptr<Song> makeSong(TickHandler handler, int16_t tempo = 125, int16_t speed = 4) {
    auto song = std::make_unique<Song>();
    song->tickHandler = handler;
    song->defaultTempo = tempo;
    song->defaultSpeed = speed;
    song->channelCount = 4;
    song->songLength = 1;
    return song;
}

// Polls `condition` for up to ten seconds.
template <typename Condition> bool waitFor(Condition condition) {
    for (int i = 0; i < 5000 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return condition();
}

} // namespace audiotest
