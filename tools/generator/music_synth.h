// Instrument synthesis for the intro's module: every sample of the music is computed here
// from oscillators, noise and envelopes (nothing is recorded or copied). Runs in the
// generator only, on the host; deterministic (fixed noise seeds, no clock).
//
// Tuning convention: a tonal sample stores waveform cycles of a known length in samples.
// tuningForPeriod picks the relative note and finetune that make XM note 58 sound at
// 440 Hz under the player's linear frequency table (note 49 at relative note 0 plays the
// sample at 8363 Hz; a finetune step of 2 is 1/64 semitone).
#pragma once
#include <cstdint>
#include <vector>

struct SynthSample {
    std::vector<int16_t> data; // 8-bit samples hold -128..127, 16-bit ones the full range
    bool sixteenBit = false;
    int loop = 0; // 0 none, 1 forward, 2 ping-pong
    uint32_t loopStart = 0;
    uint32_t loopLength = 0;
    int8_t relativeNote = 0;
    int8_t finetune = 0;
    // Samples per waveform cycle for tonal sounds (0 for drums and noise): what the tuning
    // was computed from, kept so that tests can check the pitch.
    double cycleLength = 0;
};

struct Tuning {
    int8_t relativeNote;
    int8_t finetune; // always even: the player halves it with truncation
};

// The tuning that makes a waveform of cycleLength samples per cycle sound at concert pitch.
Tuning tuningForPeriod(double cycleLength);

// The pitch in Hz that XM note `note` (1..96) plays for a sample with this tuning and cycle
// length, computed the way the player does (linear period, then 8363 * 2^(...)).
double playedPitch(const SynthSample& sample, int note);

// Concert pitch of XM note `note` (58 = A-4 = 440 Hz).
double concertPitch(int note);

SynthSample synthKick();
SynthSample synthSnare();
SynthSample synthClosedHat();
SynthSample synthOpenHat();
SynthSample synthCrash();
SynthSample synthSweep();
SynthSample synthBass();
SynthSample synthPad();
SynthSample synthLead();
SynthSample synthPluck();
SynthSample synthBell();
SynthSample synthChip();
SynthSample synthSub();
