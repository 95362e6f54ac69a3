// The song engine's per-channel state: a fixed table of 32 channel records, one
// per pattern channel, read and written on the mixing thread (and on the thread
// that calls playSong, during the prefill).
#pragma once
#include <cstdint>

struct MixChannel;

// Bits of SongChannel::updateFlags: what updateVoice pushes to the voice this tick.
constexpr uint8_t updateFrequency = 0x01;
constexpr uint8_t updateVolume = 0x02;
constexpr uint8_t updatePanning = 0x04;
constexpr uint8_t updateTrigger = 0x08;
constexpr uint8_t updateRewind = 0x20;

struct SongChannel {
    uint8_t note;        // last note, 0-based; indexes the instrument's sampleMap
    uint8_t updateFlags; // update bits above
    MixChannel* voice;   // voice c, or its partner c +- 32 after a swap
    int32_t period;      // in the song's frequency mode
    int32_t volume;      // 0..64 (effect C may leave more)
    int32_t panning;     // nominally 0..255; volume-column slides are not limited
    int32_t volumeDelta; // this tick's offset (tremolo, tremor)
    int32_t periodDelta; // this tick's offset (vibrato, arpeggio, auto-vibrato)
    int32_t volEnvTick;
    int32_t volEnvPoint;  // point the counter is heading for
    int32_t volEnvValue;  // 16.16
    int32_t volEnvVolume; // 0..64
    int32_t volEnvStep;   // 16.16 per tick
    uint8_t volEnvDone;
    int32_t panEnvTick;
    int32_t panEnvPoint;
    int32_t panEnvValue;   // 16.16
    int32_t panEnvPanning; // 0..64, centre 32
    int32_t panEnvStep;    // 16.16 per tick
    uint8_t panEnvDone;
    int32_t fadeVolume;            // 65536 = full
    int32_t autoVibratoPosition;   // 0..255
    int32_t autoVibratoSweepCount; // ticks of sweep so far
    uint8_t keyOff;
    uint8_t instrument; // 0-based
    uint8_t realNote;   // note + relativeNote - 1, wrapping in 8 bits
    int32_t notePeriod; // period of the last note given
    uint8_t lastEffect;
    int32_t sampleOffsetMemory;
    uint8_t portaDownMemory;
    uint8_t portaUpMemory;
    uint8_t extraFinePortaDownMemory;
    uint8_t extraFinePortaUpMemory;
    uint8_t volumeSlideMemory; // shared by 5xx, 6xx and Axx
    uint8_t panningSlideMemory;
    uint8_t retrigVolumeMode;
    uint8_t retrigInterval;
    int32_t portaTarget;
    uint8_t portaSpeed;     // in steps of 4 period units
    int8_t vibratoPosition; // -32..31
    uint8_t vibratoSpeed;
    uint8_t vibratoDepth;
    int8_t tremoloPosition; // -32..31
    uint8_t tremoloSpeed;
    uint8_t tremoloDepth;
    uint8_t tremorCount;
    uint8_t tremorOnTicks;
    uint8_t tremorOffTicks;
    int32_t loopRow;
    int32_t loopCount;
    uint8_t waveControl;           // low nibble vibrato, high nibble tremolo; 4+ keeps the phase
    uint8_t fineVolumeSlideMemory; // shared by EAy and EBy
    uint8_t finePortaUpMemory;
    uint8_t finePortaDownMemory;
};

constexpr int songChannelCount = 32;

extern SongChannel songChannels[songChannelCount];

// Zero the first `count` channel records and bind record c to voice c.
// Called by playSong before the prefill.
void resetSongChannels(int32_t count);
