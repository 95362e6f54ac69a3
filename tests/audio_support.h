// Shared by the audio tests: samples laid out as the loader lays them out (length + 8
// slots, guard at the loop end), voices set from plain numbers, songs built in
// memory with tick handlers of the tests' own, and the output opened over the
// virtual wave output.
#pragma once
#include "audio/mixer.h"
#include "audio/output.h"
#include "music/module_source.h"
#include "music/song.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace audiotest {

// A Sample owning its data. The data has exactly length + 8 slots, like the
// loader's, so a read outside them is caught by AddressSanitizer.
struct OwnedSample {
    std::unique_ptr<int16_t[]> data;
    Sample sample{};
};

// loopType 1 none, 2 forward, 4 ping-pong; without a loop the loop spans the sample.
inline std::unique_ptr<OwnedSample> makeSample(const std::vector<int16_t>& values,
                                               uint8_t loopType = 1, uint32_t loopStart = 0,
                                               uint32_t loopLength = 0) {
    auto owned = std::make_unique<OwnedSample>();
    uint32_t length = static_cast<uint32_t>(values.size());
    owned->data.reset(new int16_t[length + 8]());
    for (uint32_t i = 0; i < length; ++i) owned->data[i] = values[i];
    Sample& s = owned->sample;
    s.data = owned->data.get();
    s.length = length;
    s.loopType = loopType;
    s.bits = 16;
    if (loopType == 1) {
        s.loopStart = 0;
        s.loopLength = length;
    } else {
        s.loopStart = loopStart;
        s.loopLength = loopLength;
        uint32_t end = loopStart + loopLength;
        s.data[end] = loopType == 4 ? s.data[end - 1] : s.data[loopStart];
    }
    return owned;
}

inline std::vector<int16_t> constantValues(size_t count, int16_t value) {
    return std::vector<int16_t>(count, value);
}

// 32.32 from a double (exact for the binary fractions the tests use).
inline void setPosition(MixChannel& v, double position) {
    double whole = std::floor(position);
    v.position = static_cast<uint32_t>(static_cast<int64_t>(whole));
    v.positionFraction = static_cast<uint32_t>((position - whole) * 4294967296.0);
}

inline void setStep(MixChannel& v, double step) {
    double whole = std::floor(step);
    v.step = static_cast<int32_t>(whole);
    v.stepFraction = static_cast<uint32_t>((step - whole) * 4294967296.0);
}

inline double positionOf(const MixChannel& v) {
    return static_cast<double>(v.position) + v.positionFraction / 4294967296.0;
}

// A voice playing `sample` with steady gains (no ramp pending) or, with rampFromZero,
// starting a ramp from silence.
inline MixChannel& startVoice(int index, Sample* sample, double position, double step,
                              int32_t left, int32_t right, bool rampFromZero = false) {
    MixChannel& v = mixChannels[index];
    v = MixChannel{};
    v.number = index;
    v.sample = sample;
    v.direction = 1;
    setPosition(v, position);
    setStep(v, step);
    v.leftVolume = left;
    v.rightVolume = right;
    v.currentLeft = rampFromZero ? 0 : left * 256;
    v.currentRight = rampFromZero ? 0 : right * 256;
    return v;
}

inline void silenceAllVoices() {
    for (int i = 0; i < mixChannelCount; ++i) {
        mixChannels[i] = MixChannel{};
        mixChannels[i].number = i;
        mixChannels[i].step = 1;
    }
}

// ---- Songs and the output ----

inline void registerAppCallbacks() {
    registerFileCallbacks(openModuleFile, closeModuleFile, readModuleFile, seekModuleFile,
                          tellModuleFile);
}

// A song with no patterns, driven only by its tick handler.
inline std::unique_ptr<Song> makeSong(TickHandler handler, int16_t tempo = 125,
                                      int16_t speed = 6, int16_t channels = 4) {
    auto song = std::make_unique<Song>();
    *song = Song{};
    song->tickHandler = handler;
    song->defaultTempo = tempo;
    song->defaultSpeed = speed;
    song->channelCount = channels;
    song->initialGlobalVolume = 64;
    song->songLength = 1;
    return song;
}

// Opens the output over the virtual wave output, with the mixing thread off unless
// asked for.
inline bool openOutput(int32_t rate = 44100, bool thread = false) {
    registerAppCallbacks();
    setMixingThreadEnabled(thread);
    return openSoundOutput(rate);
}

} // namespace audiotest
