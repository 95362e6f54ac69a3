// Pitch, waveforms, envelopes and the channel-to-voice update. All of it runs on
// the mixing thread (or on the playSong caller's thread during the prefill),
// between the mixing of two ticks, so the voices written here are never being
// mixed at the same moment. Periods and waveforms are evaluated from their
// formulas every time; nothing is tabulated.
#include "music/pitch.h"

#include "app/mathutil.h"
#include "audio/mixer.h"
#include "audio/output.h"
#include "music/song.h"
#include "music/song_channel.h"

namespace {

// A file stores 12 envelope points; a larger count would walk past them.
constexpr int32_t storedEnvelopePoints = 12;
// Envelope values are 0..64; the 16.16 level is kept inside that range so that a
// malformed envelope cannot push a voice beyond full scale or overflow the level.
constexpr int32_t envelopeTop = 64;
constexpr int32_t envelopeLevelTop = envelopeTop << 16;

// The Amiga period scale: 13.375 * 2^((132 - k) / 12), rounded to nearest.
int32_t notePeriodScale(int32_t k) {
    return static_cast<int32_t>(roundToInteger(13.375 * power(2.0, (132 - k) / 12.0)));
}

int32_t clampInt(int64_t value, int64_t low, int64_t high) {
    return static_cast<int32_t>(value < low ? low : (value > high ? high : value));
}

// ---- Envelopes ----

// The fields of one envelope inside a SongChannel and its definition in an Instrument.
struct EnvelopeState {
    int32_t* tick;
    int32_t* point;
    int32_t* value;
    int32_t* output;
    int32_t* step;
    uint8_t* done;
    const EnvelopePoint* points;
    int32_t count;
    int32_t sustain;
    int32_t loopStart;
    int32_t loopEnd;
    uint8_t type;
    uint8_t updateBit;
};

EnvelopeState envelopeOf(SongChannel* c, const Instrument* in, EnvelopeKind kind) {
    if (kind == EnvelopeKind::volume)
        return {&c->volEnvTick,    &c->volEnvPoint,     &c->volEnvValue,    &c->volEnvVolume,
                &c->volEnvStep,    &c->volEnvDone,      in->volumeEnvelope, in->volumePointCount,
                in->volumeSustain, in->volumeLoopStart, in->volumeLoopEnd,  in->volumeType,
                updateVolume};
    return {&c->panEnvTick,     &c->panEnvPoint,      &c->panEnvValue,     &c->panEnvPanning,
            &c->panEnvStep,     &c->panEnvDone,       in->panningEnvelope, in->panningPointCount,
            in->panningSustain, in->panningLoopStart, in->panningLoopEnd,  in->panningType,
            updatePanning};
}

int32_t pointCount(int32_t count) {
    return count < storedEnvelopePoints ? count : storedEnvelopePoints;
}

int32_t pointX(const EnvelopePoint* points, int32_t k) {
    return points[k].x;
}

int32_t pointY(const EnvelopePoint* points, int32_t k) {
    int32_t y = points[k].y;
    return y < envelopeTop ? y : envelopeTop;
}

// The 16.16 change per tick between point k and point k + 1; 0 for points on one tick.
int32_t segmentStep(const EnvelopePoint* points, int32_t k) {
    int32_t dx = pointX(points, k + 1) - pointX(points, k);
    if (dx == 0) return 0;
    return (pointY(points, k + 1) * 65536 - pointY(points, k) * 65536) / dx;
}

int32_t limitLevel(int64_t value) {
    return clampInt(value, 0, envelopeLevelTop);
}

} // namespace

// ---- Periods and frequency ----

int32_t amigaPeriod(int32_t note, int32_t finetune) {
    int32_t base = notePeriodScale(note);
    if (finetune < 0 && note != 0) {
        int32_t lower = notePeriodScale(note - 1);
        return base + (base - lower) * -finetune / -128;
    }
    int32_t upper = notePeriodScale(note + 1);
    return base + (base - upper) * finetune / -128;
}

int32_t channelFrequency(const SongChannel* channel, const Song* song) {
    if (song->flags & 1) {
        int64_t exponent = 4608 - int64_t(channel->period) + channel->periodDelta;
        double f = 8363.0 * power(2.0, static_cast<double>(exponent) / 768.0);
        // A period driven far past the audible range must not overflow the integer.
        if (f > 2147483647.0) f = 2147483647.0;
        return static_cast<int32_t>(roundToInteger(f));
    }
    int64_t e = int64_t(channel->period) + channel->periodDelta;
    if (e == 0) return 0;
    // 8363 * 1712: period 1712 (C-4, finetune 0) plays at exactly 8363 Hz.
    return clampInt(14317456 / e, INT32_MIN, INT32_MAX);
}

int32_t limitPeriod(int64_t period) {
    return clampInt(period, -periodLimit, periodLimit);
}

void slideToNote(SongChannel* c) {
    int64_t speed = 4 * c->portaSpeed;
    if (c->period < c->portaTarget) {
        c->period =
            limitPeriod(c->period + speed > c->portaTarget ? c->portaTarget : c->period + speed);
    } else if (c->period > c->portaTarget) {
        c->period =
            limitPeriod(c->period - speed < c->portaTarget ? c->portaTarget : c->period - speed);
    }
    c->updateFlags |= updateFrequency;
}

// ---- Vibrato, tremolo, tremor ----

int32_t waveformValue(int32_t position, int32_t shape) {
    switch (shape & 3) {
    case 0: {
        double s = sine(2.0 * 3.141592 * position / 64.0);
        return static_cast<int32_t>(roundToInteger(256.0 * (s < 0 ? -s : s)));
    }
    case 1:
        return position >= 0 ? 8 * position : -1 - 8 * position;
    default:
        return 255;
    }
}

void applyVibrato(SongChannel* c) {
    int32_t p = c->vibratoPosition;
    int32_t a = ((waveformValue(p, c->waveControl & 3) * c->vibratoDepth) >> 5) & ~3;
    c->periodDelta = p >= 0 ? -a : a;
    c->updateFlags |= updateFrequency;
}

void advanceVibrato(SongChannel* c) {
    int32_t p = static_cast<int8_t>(c->vibratoPosition + c->vibratoSpeed);
    if (p > 31) p -= 64;
    c->vibratoPosition = static_cast<int8_t>(p);
}

void applyTremolo(SongChannel* c) {
    int32_t p = c->tremoloPosition;
    int32_t shape = (c->waveControl >> 4) & 3;
    if (shape == 3) shape = 0; // the tremolo's fourth waveform is the sine again
    int32_t d = (waveformValue(p, shape) * c->tremoloDepth) >> 6;
    if (p >= 0) {
        c->volumeDelta = c->volume + d > 64 ? 64 - c->volume : d;
    } else {
        if (c->volume - d < 0) d = c->volume;
        c->volumeDelta = -d;
    }
    int32_t next = static_cast<int8_t>(c->tremoloPosition + c->tremoloSpeed);
    if (next > 31) next -= 64;
    c->tremoloPosition = static_cast<int8_t>(next);
    c->updateFlags |= updateVolume;
}

int32_t autoVibratoValue(int32_t type, int32_t p) {
    switch (type) {
    case 0: {
        // 2 pi as the single-precision constant 6.283184, the argument in single precision.
        float argument = 6.283184f * static_cast<float>(p);
        argument = argument / 256.0f;
        return static_cast<int32_t>(roundToInteger(64.0 * sine(argument)));
    }
    case 1:
        return p < 128 ? 64 : -64;
    case 2:
        return (128 - ((p + 128) % 256)) >> 1;
    case 3:
        return (128 - ((384 - p) % 256)) >> 1;
    default:
        return 0;
    }
}

void applyAutoVibrato(SongChannel* c, const Instrument* in) {
    if (in->vibratoDepth != 0) {
        int32_t a = autoVibratoValue(in->vibratoType, c->autoVibratoPosition) * in->vibratoDepth;
        if (in->vibratoSweep != 0) a = a * c->autoVibratoSweepCount / in->vibratoSweep;
        c->periodDelta += a >> 6;
    }
    if (c->autoVibratoSweepCount < in->vibratoSweep) c->autoVibratoSweepCount += 1;
    c->autoVibratoPosition += in->vibratoRate;
    if (c->autoVibratoPosition >= 256) c->autoVibratoPosition -= 256;
    c->updateFlags |= updateFrequency;
}

void applyTremor(SongChannel* c) {
    if (c->tremorCount >= c->tremorOnTicks) c->volumeDelta = -c->volume;
    c->tremorCount += 1;
    if (c->tremorCount == c->tremorOnTicks + c->tremorOffTicks) c->tremorCount = 0;
    c->updateFlags |= updateVolume;
}

// ---- Envelopes ----

void stepEnvelope(SongChannel* c, const Instrument* in, EnvelopeKind kind) {
    EnvelopeState e = envelopeOf(c, in, kind);
    int32_t n = pointCount(e.count);
    if (*e.point < n) {
        if (*e.tick == pointX(e.points, *e.point)) {
            // A loop start outside the points would leave nothing to go back to.
            if ((e.type & 4) && *e.point == e.loopEnd && e.loopStart < n) {
                *e.point = e.loopStart;
                *e.tick = pointX(e.points, e.loopStart);
            }
            if (*e.point == n - 1) {
                *e.output = pointY(e.points, *e.point);
                *e.done = 1;
                c->updateFlags |= e.updateBit;
                return;
            }
            if ((e.type & 2) && *e.point == e.sustain && !c->keyOff) {
                *e.output = pointY(e.points, *e.point);
                c->updateFlags |= e.updateBit;
                return;
            }
            *e.step = segmentStep(e.points, *e.point);
            *e.value = pointY(e.points, *e.point) * 65536;
            *e.point += 1;
        } else {
            *e.value = limitLevel(int64_t(*e.value) + *e.step);
        }
    }
    *e.output = *e.value >> 16;
    *e.tick += 1;
    c->updateFlags |= e.updateBit;
}

void setVolumeEnvelopePosition(SongChannel* c, const Instrument* in, int32_t position) {
    const EnvelopePoint* points = in->volumeEnvelope;
    int32_t n = pointCount(in->volumePointCount);
    int32_t j = 0;
    while (j < n && position > pointX(points, j + 1))
        j += 1;
    c->volEnvPoint = j;
    if (j >= n - 1) {
        c->volEnvVolume = n > 0 ? pointY(points, n - 1) : 0;
        c->volEnvDone = 1;
        return;
    }
    c->volEnvDone = 0;
    c->volEnvTick = position;
    c->volEnvStep = segmentStep(points, j);
    c->volEnvPoint = j + 1;
    c->volEnvValue = limitLevel(int64_t(pointY(points, j)) * 65536 +
                                int64_t(position - pointX(points, j)) * c->volEnvStep);
    c->volEnvVolume = c->volEnvValue >> 16;
}

// ---- Channel reset and voice update ----

void resetFromSample(SongChannel* c, const Sample* sample) {
    c->volume = sample->volume;
    c->panning = sample->panning;
    c->volEnvVolume = 64;
    c->volEnvPoint = 0;
    c->volEnvTick = 0;
    c->volEnvStep = 0;
    c->panEnvPanning = 32;
    c->panEnvPoint = 0;
    c->panEnvTick = 0;
    c->panEnvStep = 0;
    c->keyOff = 0;
    c->fadeVolume = 65536;
    c->volEnvDone = 0;
    c->panEnvDone = 0;
    c->autoVibratoSweepCount = 0;
    c->autoVibratoPosition = 0;
    if ((c->waveControl & 0x0F) < 4) c->vibratoPosition = 0;
    if ((c->waveControl >> 4) < 4) c->tremoloPosition = 0;
    c->updateFlags |= updateVolume | updatePanning;
    c->tremorCount = 0;
}

void updateVoice(SongChannel* c, Sample* sample, const Song* song) {
    MixChannel* v = c->voice;
    if (!v) return;
    if (int64_t(c->period) + c->periodDelta == 0) c->updateFlags &= ~updateFrequency;
    uint8_t flags = c->updateFlags;

    if (flags & updateTrigger) {
        if (v->sample) {
            // The voice still sounds: the note moves to the partner voice and the old
            // one is left to ramp down to silence. The partner is found from the
            // voice's place in the table, which is also its number.
            int32_t index = static_cast<int32_t>(v - mixChannels);
            int32_t partner = index < 32 ? index + 32 : index - 32;
            MixChannel* w = &mixChannels[partner];
            *w = *v;
            w->number = partner;
            v->volume = 0;
            v->leftVolume = 0;
            v->rightVolume = 0;
            c->voice = w;
            v = w;
        }
        v->sample = sample;
        if (static_cast<uint32_t>(v->startOffset) >= sample->loopStart + sample->loopLength)
            v->startOffset = 0;
        v->position = static_cast<uint32_t>(v->startOffset);
        v->positionFraction = 0;
        v->direction = 1;
        v->startOffset = 0;
        v->currentLeft = 0;
        v->currentRight = 0;
        v->rampFramesLeft = 0;
    }

    // Panning 0 is heard on the left only and 255 on the right only, the direction every
    // XM file is written for.
    if (flags & updateVolume) {
        float vol = static_cast<float>(c->volume + c->volumeDelta);
        vol = vol * static_cast<float>(c->volEnvVolume);
        vol = vol * static_cast<float>(c->fadeVolume);
        vol = vol * static_cast<float>(song->globalVolume);
        vol = vol * (255.0f / 34359738368.0f); // 255 / 2^35, exact in single precision
        int32_t volume = static_cast<int32_t>(roundToInteger(vol));
        v->volume = volume;
        v->leftVolume = (255 - v->panning) * volume / 255;
        v->rightVolume = volume * v->panning / 255;
    }

    if (flags & updatePanning) {
        int32_t distance = c->panning - 128;
        if (distance < 0) distance = -distance;
        int32_t pan = c->panning + ((128 - distance) / 32) * (c->panEnvPanning - 32);
        pan = pan < 0 ? 0 : (pan > 255 ? 255 : pan);
        v->panning = pan;
        v->leftVolume = (255 - pan) * v->volume / 255;
        v->rightVolume = v->volume * pan / 255;
    }

    if (flags & updateFrequency) {
        int32_t f = channelFrequency(c, song);
        v->frequency = f;
        int64_t rate = sampleRate > 0 ? sampleRate : 44100;
        // At least 100 Hz; at most a step of 255 samples per frame, the largest the
        // mixer's 8.24 boundary arithmetic can hold.
        int64_t g = f < 100 ? 100 : f;
        if (g > 256 * rate - 1) g = 256 * rate - 1;
        v->step = static_cast<int32_t>(g / rate);
        v->stepFraction = static_cast<uint32_t>(((g % rate) << 32) / rate);
    }

    if (flags & updateRewind) {
        v->position = 0;
        v->positionFraction = 0;
        v->startOffset = 0;
        // Restarting from the beginning means playing forwards, also for a voice that
        // was on the way back through a ping-pong loop.
        v->direction = 1;
    }
}
