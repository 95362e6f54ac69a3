// Software mixer: resamples up to 64 voices into the float mix buffer and converts
// finished blocks to 16-bit PCM. Runs on the mixing thread (or on the thread that
// calls playSong, during the prefill).
#pragma once
#include <cstdint>

struct Sample;

// One mixer voice. Positions and steps are 32.32 fixed point (integer : fraction);
// gains are applied as gain / 255.
struct MixChannel {
    int32_t number;
    int32_t frequency; // Hz
    int32_t volume;    // 0..128 from the engine
    int32_t panning;   // 0..255
    int32_t startOffset;
    Sample* sample; // null = silent
    int32_t leftVolume;
    int32_t rightVolume;
    uint32_t position;
    uint32_t positionFraction;
    uint32_t stepFraction;
    int32_t step;
    int32_t direction; // 1 forward, anything else backward (the mixer uses 2)
    int32_t rampTargetLeft;
    int32_t rampTargetRight;
    int32_t currentLeft;  // applied gain times 256
    int32_t currentRight; // applied gain times 256
    float rampStepLeft;
    float rampStepRight;
    int32_t rampFramesLeft;
};

constexpr int mixChannelCount = 256;
constexpr int mixedVoiceCount = 64;

// The voices; created zeroed by openSoundOutput, voices 0..63 are mixed.
extern MixChannel mixChannels[mixChannelCount];

// Frames over which a gain change glides, and its single-precision inverse; set by
// openSoundOutput from the sample rate (128 at 44100 Hz) or by setRampLength.
extern int32_t rampLength;
extern float inverseRampLength;
void setRampLength(int32_t frames);

// Adds voices 0..63, in index order, into `frames` stereo float frames (left, right)
// at destination, in 16-bit sample units. Nothing happens when frames < 1.
void mixVoices(float* destination, int32_t frames);
// The frame loops the mixer may use: 0 the plain loops only (every voice mixed frame
// by frame), 1 also four frames at a time (SSE2) and silent voices only moved on,
// 2 also eight frames at a time (AVX2). Every choice gives the same output bit for
// bit; the default is the widest the processor has, and a wider request than that
// is lowered to it. Not while mixing.
void setMixingLoops(int32_t widest);
int32_t mixingLoops();
// Rounds 2 * frames floats to nearest (ties to even) and clamps them to 16 bits.
// Nothing happens when frames <= 0 or a pointer is null.
void convertToPcm16(int16_t* output, const float* input, int32_t frames);
