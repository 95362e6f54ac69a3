// The loaded module and its playback state. The loader fills the static fields;
// the output side (playSong, renderBlock) and the song engine change the playback
// fields on the mixing thread. Layout and field order follow the song data model.
#pragma once
#include <cstdint>

struct EnvelopePoint {
    uint16_t x; // tick
    uint16_t y; // value
};

struct Sample {
    int16_t* data;       // length + 8 slots, zero-filled; null when length is 0
    uint32_t length;     // in samples
    uint32_t loopStart;  // in samples
    uint32_t loopLength; // in samples; loop end = loopStart + loopLength
    uint8_t volume;      // 0..64
    int8_t finetune;
    int32_t panning;  // 0..255
    uint8_t bits;     // 8 or 16 as in the file; 16 once the data is loaded
    uint8_t loopType; // 1 no loop, 2 forward, 4 ping-pong (0 only in emptySample)
    int8_t relativeNote;
};

struct Instrument {
    int32_t sampleCount; // 0..16
    Sample* samples[16]; // slots from sampleCount on point at emptySample
    uint8_t sampleMap[96];
    EnvelopePoint volumeEnvelope[20]; // points 0..11 from the file, 12..19 zero
    EnvelopePoint panningEnvelope[20];
    uint8_t volumePointCount;
    uint8_t panningPointCount;
    uint8_t volumeSustain;
    uint8_t volumeLoopStart;
    uint8_t volumeLoopEnd;
    uint8_t panningSustain;
    uint8_t panningLoopStart;
    uint8_t panningLoopEnd;
    uint8_t volumeType;  // bit 0 on, bit 1 sustain, bit 2 loop
    uint8_t panningType; // same bits
    uint8_t vibratoType;
    uint8_t vibratoSweep;
    uint8_t vibratoDepth;
    uint8_t vibratoRate;
    uint16_t fadeout; // the file's value times 2, wrapping
};

struct PatternCell {
    uint8_t note;       // 0 none, 1..96, 255 key off
    uint8_t instrument; // 0 none, 1..128
    uint8_t volume;     // volume-column byte
    uint8_t effect;
    uint8_t parameter;
};
static_assert(sizeof(PatternCell) == 5);

struct Pattern {
    int32_t rowCount;
    PatternCell* cells; // rowCount * channelCount cells, row after row
};

struct Song;
using TickHandler = void (*)(Song* song);

struct Song {
    Pattern* patterns;
    Instrument* instruments;
    int32_t samplesToNextTick; // frames still to mix before the next tick; 0 = tick due
    int32_t samplesPerTick;
    int16_t songLength;
    int16_t restartPosition;
    int16_t channelCount;
    int32_t usedPatternCount;
    int32_t patternCount;
    int16_t instrumentCount;
    uint16_t flags; // bit 0: linear frequency table
    int16_t defaultSpeed;
    int16_t defaultTempo;
    uint8_t orderTable[256];
    uint8_t initialGlobalVolume;
    int32_t globalVolume;
    uint8_t globalVolumeSlideMemory;
    int32_t tick;
    int32_t speed;
    int32_t tempo;
    int32_t row;
    int32_t orderPosition;
    int32_t patternDelayTicks;
    int32_t nextRow;   // -1 = none pending
    int32_t nextOrder; // -1 = none pending
    int32_t elapsedMs;
    TickHandler tickHandler;
};

// The shared all-zero sample: no data, length 0, loopType 0. Never released.
extern Sample emptySample;
