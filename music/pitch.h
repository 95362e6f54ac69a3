// Pitch, waveforms, envelopes and the channel-to-voice update shared by the row
// and tick processing. Everything here runs on the mixing thread (or on the thread
// that calls playSong, during the prefill), once per channel and tick at most.
// updateVoice is the only code in the engine that writes MixChannel fields.
#pragma once
#include <cstdint>

struct Song;
struct Sample;
struct Instrument;
struct SongChannel;

// Accumulated periods (portamento, fine slides, tone portamento) stay within
// -periodLimit..periodLimit. Long before either end every period plays at the 100 Hz
// floor or at the step ceiling, so the limit changes nothing heard; within it a period
// plus any offset, and one more slide step, still fit 32 bits.
constexpr int32_t periodLimit = 1 << 30;
int32_t limitPeriod(int64_t period);

// Amiga period of note index n (0-based) with a signed finetune; 1712 for n = 48.
int32_t amigaPeriod(int32_t note, int32_t finetune);

// The frequency in Hz that period + periodDelta gives in the song's frequency mode.
// Amiga mode needs period + periodDelta != 0 (updateVoice never asks otherwise).
int32_t channelFrequency(const SongChannel* channel, const Song* song);

// One tone-portamento step towards portaTarget.
void slideToNote(SongChannel* channel);

// Vibrato and tremolo waveforms at a position -32..31: shape 0 sine (0..256),
// 1 ramp, 2 and 3 square (255). Tremolo maps its shape 3 to sine itself.
int32_t waveformValue(int32_t position, int32_t shape);

// periodDelta from the vibrato state; the position is not moved.
void applyVibrato(SongChannel* channel);
// vibratoPosition += vibratoSpeed, kept within -32..31.
void advanceVibrato(SongChannel* channel);
// volumeDelta from the tremolo state; moves the tremolo position.
void applyTremolo(SongChannel* channel);
// Instrument auto-vibrato at a position 0..255; types above 3 give 0.
int32_t autoVibratoValue(int32_t type, int32_t position);
// Adds the instrument's auto-vibrato to periodDelta and moves its position.
void applyAutoVibrato(SongChannel* channel, const Instrument* instrument);
// One tremor step: silent in the off part of the cycle.
void applyTremor(SongChannel* channel);

enum class EnvelopeKind : uint8_t { volume, panning };

// Advances the volume or panning envelope by one tick.
void stepEnvelope(SongChannel* channel, const Instrument* instrument, EnvelopeKind kind);
// Moves the volume envelope to tick `position` (effect Lxx).
void setVolumeEnvelopePosition(SongChannel* channel, const Instrument* instrument,
                               int32_t position);

// The reset an instrument number gives: volume and panning from the sample,
// envelopes, fadeout, auto-vibrato and key state restarted.
void resetFromSample(SongChannel* channel, const Sample* sample);

// Pushes the channel's updateFlags to its voice; `sample` is this tick's sample.
void updateVoice(SongChannel* channel, Sample* sample, const Song* song);
