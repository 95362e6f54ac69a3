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

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// Eight frames at a time where the processor has AVX2, chosen when the program runs.
#if defined(__SSE2__) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define VELMORA_WIDE_LOOPS 1
#include <immintrin.h>
#endif

MixChannel mixChannels[mixChannelCount];
int32_t rampLength = 128;
float inverseRampLength = 1.0f / 128.0f;

void setRampLength(int32_t frames) {
    rampLength = frames;
    inverseRampLength = 1.0f / static_cast<float>(frames);
}

namespace {

int32_t widestLoopsAvailable() {
#if defined(VELMORA_WIDE_LOOPS)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return 2;
#endif
#if defined(__SSE2__)
    return 1;
#else
    return 0;
#endif
}

const int32_t availableLoops = widestLoopsAvailable();
int32_t loopWidth = availableLoops; // 0 one frame, 1 four frames, 2 eight frames at a time

} // namespace

void setMixingLoops(int32_t widest) {
    loopWidth = widest < 0 ? 0 : widest < availableLoops ? widest : availableLoops;
}

int32_t mixingLoops() {
    return loopWidth;
}

namespace {

// The single-precision value nearest 1/255: gains 0..255 scale a sample by gain / 255.
constexpr float gainScale = 1.0f / 255.0f;
static_assert(__builtin_bit_cast(uint32_t, gainScale) == 0x3B808081u);
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

// The advance drops the lowest fraction bit before adding the step; `delta` is the
// step, or its two's complement when moving backwards.
inline uint64_t advance(uint64_t x, uint64_t delta) {
    return (x & ~uint64_t(1)) + delta;
}

// A silent voice only moves: the position after `frames` advances, without the
// reads. After the first advance the dropped fraction bit is always the step's own
// lowest bit, so every further advance adds the step with that bit cleared.
inline uint64_t skipFrames(uint64_t x, uint64_t delta, int32_t frames) {
    if (frames <= 0) return x;
    return advance(x, delta) + static_cast<uint64_t>(frames - 1) * (delta & ~uint64_t(1));
}

#if defined(__SSE2__)
// ---- Four frames at a time ----
// Reads never see bit 0 of a position (the weight takes the fraction's top 31
// bits), so the positions read are y, y + e, y + 2e ... with y = x & ~1 and e the
// step with bit 0 cleared: independent additions instead of a chain of advances.
// The fractions follow the same progression in 32-bit lanes.
struct Progression {
    uint64_t y;
    uint64_t e1, e2, e3, e4;
    __m128i fractions;
    __m128i fractionStep;
};

inline Progression startProgression(uint64_t x, uint64_t delta) {
    Progression p;
    uint64_t even = delta & ~uint64_t(1);
    p.y = x & ~uint64_t(1);
    p.e1 = even;
    p.e2 = 2 * even;
    p.e3 = 3 * even;
    p.e4 = 4 * even;
    uint32_t f = static_cast<uint32_t>(p.y), e = static_cast<uint32_t>(even);
    p.fractions = _mm_setr_epi32(static_cast<int32_t>(f), static_cast<int32_t>(f + e),
                                 static_cast<int32_t>(f + 2 * e), static_cast<int32_t>(f + 3 * e));
    p.fractionStep = _mm_set1_epi32(static_cast<int32_t>(4 * e));
    return p;
}

// The position after the frames taken, as the chain of advances leaves it: bit 0
// is the step's own.
inline uint64_t endProgression(const Progression& p, uint64_t delta) {
    return p.y + (delta & 1);
}

// data[P] and data[P + 1] of a position known to lie at or above 0, as one 32-bit value.
inline int32_t pairAt(const int16_t* data, uint64_t x) {
    int32_t pair;
    std::memcpy(&pair, data + (x >> 32), sizeof pair);
    return pair;
}

// The next four interpolated values, with the single-precision operations of sampleAt.
inline __m128 nextFour(Progression& p, const int16_t* data) {
    uint64_t y = p.y;
    // Each 32-bit load holds data[P] in its low half and data[P + 1] in its high half.
    __m128i pairs = _mm_setr_epi32(pairAt(data, y), pairAt(data, y + p.e1), pairAt(data, y + p.e2),
                                   pairAt(data, y + p.e3));
    p.y = y + p.e4;
    __m128i first = _mm_srai_epi32(_mm_slli_epi32(pairs, 16), 16);
    __m128i difference = _mm_sub_epi32(_mm_srai_epi32(pairs, 16), first);
    __m128 t =
        _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(p.fractions, 1)), _mm_set1_ps(weightScale));
    p.fractions = _mm_add_epi32(p.fractions, p.fractionStep);
    return _mm_add_ps(_mm_cvtepi32_ps(first), _mm_mul_ps(t, _mm_cvtepi32_ps(difference)));
}

// Adds four frames' values times the gains of frames 0-1 and 2-3 (left, right pairs).
inline void addFour(float* out, __m128 s, __m128 gains01, __m128 gains23) {
    _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), _mm_mul_ps(_mm_unpacklo_ps(s, s), gains01)));
    _mm_storeu_ps(out + 4,
                  _mm_add_ps(_mm_loadu_ps(out + 4), _mm_mul_ps(_mm_unpackhi_ps(s, s), gains23)));
}
#endif

#if defined(VELMORA_WIDE_LOOPS)
// ---- Eight frames at a time ----
// The four-frame loop of mixSteady with the arithmetic in 256-bit lanes. The pairs
// are read with plain loads as in nextFour: the vector gather instruction is slower
// than eight of them. Takes whole groups of eight frames and leaves out and frames
// at what remains.
__attribute__((target("avx2"))) uint64_t mixSteadyWide(float*& out, int32_t& frames, uint64_t x,
                                                       uint64_t delta, const int16_t* data,
                                                       float left, float right) {
    const uint64_t even = delta & ~uint64_t(1);
    uint64_t y = x & ~uint64_t(1);
    const uint32_t f = static_cast<uint32_t>(y), e = static_cast<uint32_t>(even);
    __m256i fractions =
        _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(f)),
                         _mm256_mullo_epi32(_mm256_set1_epi32(static_cast<int32_t>(e)),
                                            _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
    const __m256i fractionStep = _mm256_set1_epi32(static_cast<int32_t>(8 * e));
    const __m256 gains = _mm256_setr_ps(left, right, left, right, left, right, left, right);
    const __m256 weight = _mm256_set1_ps(weightScale);
    const uint64_t e2 = 2 * even, e3 = 3 * even, e4 = 4 * even;
    int32_t groups = frames >> 3;
    for (int32_t g = 0; g < groups; ++g) {
        uint64_t z = y + e4;
        __m128i a = _mm_setr_epi32(pairAt(data, y), pairAt(data, y + even), pairAt(data, y + e2),
                                   pairAt(data, y + e3));
        __m128i b = _mm_setr_epi32(pairAt(data, z), pairAt(data, z + even), pairAt(data, z + e2),
                                   pairAt(data, z + e3));
        y = z + e4;
        __m256i pairs = _mm256_set_m128i(b, a);
        __m256i first = _mm256_srai_epi32(_mm256_slli_epi32(pairs, 16), 16);
        __m256i difference = _mm256_sub_epi32(_mm256_srai_epi32(pairs, 16), first);
        __m256 t = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(fractions, 1)), weight);
        __m256 s = _mm256_add_ps(_mm256_cvtepi32_ps(first),
                                 _mm256_mul_ps(t, _mm256_cvtepi32_ps(difference)));
        fractions = _mm256_add_epi32(fractions, fractionStep);
        // s0 s0 s1 s1 | s4 s4 s5 s5 and s2 s2 s3 s3 | s6 s6 s7 s7, put back in frame order.
        __m256 lower = _mm256_unpacklo_ps(s, s);
        __m256 upper = _mm256_unpackhi_ps(s, s);
        __m256 frames0123 = _mm256_permute2f128_ps(lower, upper, 0x20);
        __m256 frames4567 = _mm256_permute2f128_ps(lower, upper, 0x31);
        _mm256_storeu_ps(out,
                         _mm256_add_ps(_mm256_loadu_ps(out), _mm256_mul_ps(frames0123, gains)));
        _mm256_storeu_ps(out + 8,
                         _mm256_add_ps(_mm256_loadu_ps(out + 8), _mm256_mul_ps(frames4567, gains)));
        out += 16;
    }
    frames -= groups * 8;
    return y + (delta & 1);
}
#endif

// Constant gains, two frames per iteration; an odd last frame takes the gains
// derived from the voice's current gains.
template <bool Checked>
uint64_t mixSteady(float* out, int32_t frames, uint64_t x, uint64_t delta, const int16_t* data,
                   float left, float right, float oddLeft, float oddRight) {
#if defined(VELMORA_WIDE_LOOPS)
    if (!Checked && frames >= 8 && loopWidth >= 2)
        x = mixSteadyWide(out, frames, x, delta, data, left, right);
#endif
#if defined(__SSE2__)
    if (!Checked && frames >= 4 && loopWidth >= 1) {
        const __m128 gains = _mm_setr_ps(left, right, left, right);
        Progression p = startProgression(x, delta);
        for (; frames >= 4; frames -= 4) {
            addFour(out, nextFour(p, data), gains, gains);
            out += 8;
        }
        x = endProgression(p, delta);
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
#if defined(__SSE2__)
    if (!Checked && frames >= 4 && loopWidth >= 1) {
        // The gains still come one frame after the other, each from the one before,
        // left and right side by side.
        const __m128 stepGains = _mm_setr_ps(stepLeft, stepRight, stepLeft, stepRight);
        __m128 gains = _mm_setr_ps(l, r, l, r);
        Progression p = startProgression(x, delta);
        for (; frames >= 4; frames -= 4) {
            __m128 g1 = _mm_add_ps(gains, stepGains);
            __m128 g2 = _mm_add_ps(g1, stepGains);
            __m128 g3 = _mm_add_ps(g2, stepGains);
            addFour(out, nextFour(p, data), _mm_movelh_ps(gains, g1), _mm_movelh_ps(g2, g3));
            gains = _mm_add_ps(g3, stepGains);
            out += 8;
        }
        x = endProgression(p, delta);
        l = _mm_cvtss_f32(gains);
        r = _mm_cvtss_f32(_mm_shuffle_ps(gains, gains, _MM_SHUFFLE(1, 1, 1, 1)));
    }
#endif
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
        } else if (voice.leftVolume == 0 && voice.rightVolume == 0 && voice.currentLeft == 0 &&
                   voice.currentRight == 0 && loopWidth >= 1) {
            // Every product would be a zero and adding it would leave each sum as it is
            // (a -0 may turn into +0, which converts to the same 0).
            x = skipFrames(x, delta, n);
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
    int64_t i = 0;
#if defined(__SSE2__)
    // Eight values at a time, the same results as the loop below: NaN is masked to 0,
    // the clamps come first, and cvtps2dq rounds to nearest with ties to even, the
    // rounding mode roundToInteger relies on too.
    const __m128 highest = _mm_set1_ps(32767.0f);
    const __m128 lowest = _mm_set1_ps(-32768.0f);
    for (; i + 8 <= count; i += 8) {
        __m128 a = _mm_loadu_ps(input + i);
        __m128 b = _mm_loadu_ps(input + i + 4);
        a = _mm_and_ps(a, _mm_cmpord_ps(a, a));
        b = _mm_and_ps(b, _mm_cmpord_ps(b, b));
        a = _mm_max_ps(_mm_min_ps(a, highest), lowest);
        b = _mm_max_ps(_mm_min_ps(b, highest), lowest);
        __m128i packed = _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(output + i), packed);
    }
#endif
    for (; i < count; ++i) {
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
