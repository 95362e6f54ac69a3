// Software mixer. mixVoices and convertToPcm16 run on the mixing thread (or on the
// thread that calls playSong, during the prefill); setRampLength runs on the main
// thread while nothing is mixed.
//
// Each voice is mixed in runs. Before a run starts, the frames to the next loop
// boundary and to the end of a gain ramp are known, so the frame loops test
// nothing per frame. Positions and steps are 32.32 fixed point, held as one 64-bit
// value; the mix is accumulated in single precision.
#include "audio/mixer.h"

#include "app/mathutil.h"
#include "music/song.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

MixChannel mixChannels[mixChannelCount];
int32_t rampLength = 128;
float inverseRampLength = 1.0f / 128.0f;

void setRampLength(int32_t frames) {
    rampLength = frames;
    inverseRampLength = 1.0f / static_cast<float>(frames);
}

namespace {

// The single-precision value nearest 1/255: gains 0..255 scale a sample by gain / 255.
constexpr float gainScale = 1.0f / 255.0f;
static_assert(std::bit_cast<uint32_t>(gainScale) == 0x3B808081u);
constexpr float oneOver256 = 1.0f / 256.0f;
// The interpolation weight is the fraction's top 31 bits times 2^-31.
constexpr float weightScale = 0x1p-31f;

constexpr uint64_t oneSample = uint64_t(1) << 32;
// Sample indexes are taken as signed 64-bit values; longer samples are not played.
constexpr uint32_t longestSample = 0x7FFFFFF0u;
// Steps from 256 on do not fit the 8.24 form of the boundary search; from 65536 on
// (about 2.9 GHz at 44100 Hz) a voice is not played at all.
constexpr uint32_t firstWideStep = 256;
constexpr uint32_t firstUnplayableStep = 65536;

void stopVoice(MixChannel& voice) {
    voice.sample = nullptr;
    voice.position = 0;
    voice.positionFraction = 0;
}

bool samplePlayable(const Sample& sample) {
    if (!sample.data || sample.length > longestSample) return false;
    uint64_t loopEnd = uint64_t(sample.loopStart) + sample.loopLength;
    // The guard slot at the loop end and the slot after it are the highest reads.
    if (loopEnd > sample.length) return false;
    bool loops = sample.loopType == 2 || sample.loopType == 4;
    return !(loops && sample.loopLength == 0);
}

// The interpolated value at x. A position in (-1, 0) (after a ping-pong reflection
// at a loop start of 0) reads 0 for the slot before data[0]; only runs that may
// reach it take the checked variant.
template <bool Checked> inline float sampleAt(const int16_t* data, uint64_t x) {
    int64_t index = static_cast<int64_t>(x) >> 32;
    int32_t s0, s1;
    if (Checked && index < 0) {
        s0 = 0;
        s1 = index == -1 ? data[0] : 0;
    } else {
        s0 = data[index];
        s1 = data[index + 1];
    }
    float t = static_cast<float>(static_cast<int32_t>(static_cast<uint32_t>(x) >> 1)) * weightScale;
    return static_cast<float>(s0) + t * static_cast<float>(s1 - s0);
}

#if defined(__SSE2__)
// data[P] and data[P + 1] of a position known to lie at or above 0, as one 32-bit value.
inline int32_t pairAt(const int16_t* data, uint64_t x) {
    int32_t pair;
    std::memcpy(&pair, data + (x >> 32), sizeof pair);
    return pair;
}
#endif

// The advance drops the lowest fraction bit before adding the step; `delta` is the
// step, or its two's complement when moving backwards.
inline uint64_t advance(uint64_t x, uint64_t delta) {
    return (x & ~uint64_t(1)) + delta;
}

// Constant gains, two frames per iteration; an odd last frame takes the gains
// derived from the voice's current gains.
template <bool Checked>
uint64_t mixSteady(float* out, int32_t frames, uint64_t x, uint64_t delta, const int16_t* data,
                   float left, float right, float oddLeft, float oddRight) {
#if defined(__SSE2__)
    // Four frames at a time with the same single-precision operations per frame as
    // sampleAt: the gathers stay scalar, the arithmetic runs in SSE lanes.
    if (!Checked) {
        const __m128 gains = _mm_setr_ps(left, right, left, right);
        const __m128 weight = _mm_set1_ps(weightScale);
        for (; frames >= 4; frames -= 4) {
            uint64_t x0 = x, x1 = advance(x0, delta), x2 = advance(x1, delta),
                     x3 = advance(x2, delta);
            x = advance(x3, delta);
            // Each 32-bit load holds data[P] in its low half and data[P + 1] in its high half.
            __m128i pairs = _mm_setr_epi32(pairAt(data, x0), pairAt(data, x1), pairAt(data, x2),
                                           pairAt(data, x3));
            __m128i first = _mm_srai_epi32(_mm_slli_epi32(pairs, 16), 16);
            __m128i difference = _mm_sub_epi32(_mm_srai_epi32(pairs, 16), first);
            __m128i low = _mm_set_epi64x(static_cast<int64_t>(x1), static_cast<int64_t>(x0));
            __m128i high = _mm_set_epi64x(static_cast<int64_t>(x3), static_cast<int64_t>(x2));
            __m128i fractions = _mm_castps_si128(_mm_shuffle_ps(
                _mm_castsi128_ps(low), _mm_castsi128_ps(high), _MM_SHUFFLE(2, 0, 2, 0)));
            __m128 t = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(fractions, 1)), weight);
            __m128 s =
                _mm_add_ps(_mm_cvtepi32_ps(first), _mm_mul_ps(t, _mm_cvtepi32_ps(difference)));
            __m128 frames01 = _mm_unpacklo_ps(s, s);
            __m128 frames23 = _mm_unpackhi_ps(s, s);
            _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), _mm_mul_ps(frames01, gains)));
            _mm_storeu_ps(out + 4, _mm_add_ps(_mm_loadu_ps(out + 4), _mm_mul_ps(frames23, gains)));
            out += 8;
        }
    }
#endif
    for (int32_t pair = frames >> 1; pair > 0; --pair) {
        float s = sampleAt<Checked>(data, x);
        x = advance(x, delta);
        float u = sampleAt<Checked>(data, x);
        x = advance(x, delta);
        out[0] += s * left;
        out[1] += s * right;
        out[2] += u * left;
        out[3] += u * right;
        out += 4;
    }
    if (frames & 1) {
        float s = sampleAt<Checked>(data, x);
        x = advance(x, delta);
        out[0] += s * oddLeft;
        out[1] += s * oddRight;
    }
    return x;
}

// Gains gliding by a fixed increment per frame, applied after use.
template <bool Checked>
uint64_t mixRamp(float* out, int32_t frames, uint64_t x, uint64_t delta, const int16_t* data,
                 float& left, float& right, float stepLeft, float stepRight) {
    float l = left, r = right;
    for (int32_t i = 0; i < frames; ++i) {
        float s = sampleAt<Checked>(data, x);
        x = advance(x, delta);
        out[0] += s * l;
        out[1] += s * r;
        l += stepLeft;
        r += stepRight;
        out += 2;
    }
    left = l;
    right = r;
    return x;
}

// Frames until the boundary at distance `distance` is reached or passed, or -1
// when it lies beyond `limit` frames.
int64_t framesToBoundary(uint64_t distance, uint64_t step, int32_t limit) {
    uint64_t k;
    if (distance == 0) return 0; // at the boundary already, whatever the step
    if (step >> 32 < firstWideStep) {
        if (distance >> 32 >= (uint64_t(1) << 24)) return -1;
        // 24.24 distance over an 8.24 step.
        uint64_t d = distance >> 8;
        uint64_t s = step >> 8 & 0xFFFFFFFFu;
        if (s == 0) return -1; // too slow to reach any boundary in this piece
        k = (d + s - 1) / s;
    } else {
        k = distance / step + (distance % step != 0);
    }
    return k <= static_cast<uint64_t>(limit) ? static_cast<int64_t>(k) : -1;
}

// Moves a voice that reached its loop end (or loop start, moving backwards) back
// into the loop. False when the voice stops there.
bool passBoundary(MixChannel& voice, const Sample& sample, uint64_t& x) {
    uint64_t loopStart = sample.loopStart;
    uint64_t loopEnd = loopStart + sample.loopLength;
    if (sample.loopType == 2) {
        // Subtract the loop length at least once, and until the position lies
        // below the loop end; the fraction stays.
        int64_t index = static_cast<int64_t>(x) >> 32;
        uint64_t times = 1;
        if (index >= static_cast<int64_t>(loopEnd))
            times += (static_cast<uint64_t>(index) - loopEnd) / sample.loopLength;
        x -= times * (uint64_t(sample.loopLength) << 32);
        return true;
    }
    if (sample.loopType == 4) {
        // Reflect: X becomes 2 * bound - X - 2^-32, until inside the loop.
        uint64_t start = loopStart << 32, end = loopEnd << 32;
        bool forward = voice.direction == 1;
        x = forward ? 2 * end - x - 1 : 2 * start - x - 1;
        forward = !forward;
        for (;;) {
            int64_t index = static_cast<int64_t>(x) >> 32;
            if (!forward && index < static_cast<int64_t>(loopStart)) {
                x = 2 * start - x - 1;
                forward = true;
            } else if (forward && index >= static_cast<int64_t>(loopEnd)) {
                x = 2 * end - x - 1;
                forward = false;
            } else {
                break;
            }
        }
        voice.direction = forward ? 1 : 2;
        return true;
    }
    stopVoice(voice);
    return false;
}

void mixVoice(MixChannel& voice, float* destination, int32_t frames) {
    const Sample& sample = *voice.sample;
    uint32_t stepWhole = static_cast<uint32_t>(voice.step);
    if (!samplePlayable(sample) || stepWhole >= firstUnplayableStep) {
        stopVoice(voice);
        return;
    }
    const int16_t* data = sample.data;
    const int64_t loopStart = int64_t(sample.loopStart) << 32;
    const int64_t loopEnd = (int64_t(sample.loopStart) + int64_t(sample.loopLength)) << 32;
    const uint64_t step = uint64_t(stepWhole) << 32 | voice.stepFraction;
    uint64_t x = uint64_t(voice.position) << 32 | voice.positionFraction;

    int32_t done = 0;
    while (done < frames) {
        const bool forward = voice.direction == 1;
        const int64_t at = static_cast<int64_t>(x);
        int32_t n = frames - done;

        // ---- Boundary ----
        // A position less than a sample past its boundary (left there by the
        // truncated boundary search) counts as having reached it; one further out
        // lies outside the loop and stops the voice.
        bool atBoundary = false;
        uint64_t distance;
        if (forward) {
            if (at < -int64_t(oneSample) || at > loopEnd + int64_t(oneSample - 1)) {
                stopVoice(voice);
                return;
            }
            distance = at > loopEnd ? 0 : static_cast<uint64_t>(loopEnd - at);
        } else {
            if (at < loopStart - int64_t(oneSample - 1) || at >> 32 > loopEnd >> 32) {
                stopVoice(voice);
                return;
            }
            distance = at < loopStart ? 0 : static_cast<uint64_t>(at - loopStart);
        }
        int64_t k = framesToBoundary(distance, step, n);
        if (k >= 0) {
            n = static_cast<int32_t>(k);
            atBoundary = true;
        }

        // ---- Ramp set-up ----
        int32_t ramp;
        float stepLeft = 0.0f, stepRight = 0.0f;
        if (voice.rampFramesLeft != 0 && voice.leftVolume == voice.rampTargetLeft &&
            voice.rightVolume == voice.rampTargetRight) {
            ramp = voice.rampFramesLeft;
            stepLeft = voice.rampStepLeft;
            stepRight = voice.rampStepRight;
        } else {
            ramp = 0;
            voice.rampTargetLeft = voice.leftVolume;
            int32_t heldLeft = static_cast<int32_t>(static_cast<uint32_t>(voice.currentLeft) >> 8);
            if (voice.leftVolume != heldLeft) {
                stepLeft = static_cast<float>(int64_t(voice.leftVolume) - heldLeft) * gainScale *
                           inverseRampLength;
                voice.rampStepLeft = stepLeft;
                ramp = rampLength;
            }
            voice.rampTargetRight = voice.rightVolume;
            int32_t heldRight =
                static_cast<int32_t>(static_cast<uint32_t>(voice.currentRight) >> 8);
            if (voice.rightVolume != heldRight) {
                stepRight = static_cast<float>(int64_t(voice.rightVolume) - heldRight) * gainScale *
                            inverseRampLength;
                voice.rampStepRight = stepRight;
                ramp = rampLength;
            }
        }
        if (ramp > 0) {
            voice.rampFramesLeft = ramp;
            if (n > ramp) {
                n = ramp;
                atBoundary = false; // the run ends where the ramp ends
            }
        }

        // ---- Frames ----
        const uint64_t delta = forward ? step : ~step + 1;
        // Only a run that may read below data[0] takes the checked loop: forwards
        // from a position in (-1, 0), backwards towards a loop start near 0.
        bool checked = at < 0 || (!forward && n > 0 &&
                                  static_cast<uint64_t>(at) / static_cast<uint32_t>(n) < step + 1);
        float* out = destination + 2 * static_cast<int64_t>(done);
        float heldLeftGain = static_cast<float>(voice.currentLeft) * oneOver256 * gainScale;
        float heldRightGain = static_cast<float>(voice.currentRight) * oneOver256 * gainScale;
        if (ramp > 0) {
            float left = heldLeftGain, right = heldRightGain;
            x = checked ? mixRamp<true>(out, n, x, delta, data, left, right, stepLeft, stepRight)
                        : mixRamp<false>(out, n, x, delta, data, left, right, stepLeft, stepRight);
            // ---- Ramp end ----
            voice.currentLeft = static_cast<int32_t>(roundToInteger(left * 255.0f * 256.0f));
            voice.currentRight = static_cast<int32_t>(roundToInteger(right * 255.0f * 256.0f));
            voice.rampFramesLeft -= n;
            if (voice.rampFramesLeft == 0) {
                voice.rampStepLeft = 0.0f;
                voice.rampStepRight = 0.0f;
                voice.currentLeft =
                    static_cast<int32_t>(static_cast<uint32_t>(voice.leftVolume) << 8);
                voice.currentRight =
                    static_cast<int32_t>(static_cast<uint32_t>(voice.rightVolume) << 8);
            }
        } else {
            float left = static_cast<float>(voice.leftVolume) * gainScale;
            float right = static_cast<float>(voice.rightVolume) * gainScale;
            x = checked ? mixSteady<true>(out, n, x, delta, data, left, right, heldLeftGain,
                                          heldRightGain)
                        : mixSteady<false>(out, n, x, delta, data, left, right, heldLeftGain,
                                           heldRightGain);
        }
        done += n;

        // ---- Boundary handling ----
        if (atBoundary && !passBoundary(voice, sample, x)) return;
    }
    voice.position = static_cast<uint32_t>(x >> 32);
    voice.positionFraction = static_cast<uint32_t>(x);
}

} // namespace

void mixVoices(float* destination, int32_t frames) {
    if (frames < 1 || !destination) return;
    for (int32_t v = 0; v < mixedVoiceCount; ++v) {
        MixChannel& voice = mixChannels[v];
        if (voice.sample) mixVoice(voice, destination, frames);
    }
}

void convertToPcm16(int16_t* output, const float* input, int32_t frames) {
    if (frames <= 0 || !output || !input) return;
    int64_t count = 2 * static_cast<int64_t>(frames);
    for (int64_t i = 0; i < count; ++i) {
        // Clamping before rounding gives the same results for every finite value and
        // keeps infinities (and NaN, taken as 0) away from the integer conversion.
        float value = input[i];
        if (value > 32767.0f)
            value = 32767.0f;
        else if (value < -32768.0f)
            value = -32768.0f;
        else if (value != value)
            value = 0.0f;
        output[i] = static_cast<int16_t>(roundToInteger(value));
    }
}
