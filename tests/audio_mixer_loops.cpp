// The mixer's frame loops: the plain frame-by-frame loops, the four-frame loops (with
// silent voices only moved on) and the eight-frame loops must give the same mix and
// leave the voices in the same state, bit for bit; and the block conversion to 16
// bits must match a value-by-value rounding for every float.
#include "audio_support.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <random>

using namespace audiotest;

namespace {

struct LoopsReset : ::testing::Test {
    void SetUp() override {
        silenceAllVoices();
        setRampLength(128);
        setMixingLoops(2);
    }
    void TearDown() override { setMixingLoops(2); }
};

// Every field of a voice, floats by their bits, the sample as an index into `samples`.
std::vector<int64_t> voiceState(const MixChannel& v, const std::vector<Sample>& samples) {
    const int64_t sample = v.sample ? v.sample - samples.data() : -1;
    const int32_t stepLeft = std::bit_cast<int32_t>(v.rampStepLeft);
    const int32_t stepRight = std::bit_cast<int32_t>(v.rampStepRight);
    return {sample,           v.position,        v.positionFraction, v.step,        v.stepFraction,
            v.direction,      v.leftVolume,      v.rightVolume,      v.currentLeft, v.currentRight,
            v.rampTargetLeft, v.rampTargetRight, v.rampFramesLeft,   stepLeft,      stepRight};
}

// A scene of random voices: samples of every loop kind (some tiny, some with a loop
// start of 0, a few broken), positions near the loop ends and before data[0], steps
// from creeping to very wide, gains silent, steady, ramping or with a held remainder.
struct Scene {
    std::vector<std::unique_ptr<int16_t[]>> data;
    std::vector<Sample> samples = std::vector<Sample>(mixedVoiceCount);
    std::vector<MixChannel> voices = std::vector<MixChannel>(mixedVoiceCount);

    explicit Scene(std::mt19937_64& rng) {
        auto r = [&](int64_t lo, int64_t hi) {
            return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
        };
        for (int v = 0; v < mixedVoiceCount; ++v) {
            uint32_t length = static_cast<uint32_t>(r(0, 4) == 0 ? r(1, 6) : r(7, 2500));
            data.emplace_back(new int16_t[length + 8]());
            int16_t* d = data.back().get();
            for (uint32_t i = 0; i < length; ++i)
                d[i] = static_cast<int16_t>(r(0, 2) == 0 ? (r(0, 1) ? 32767 : -32768)
                                                         : r(-32768, 32767));
            Sample& s = samples[v];
            s = Sample{d, length, 0, 0, 64, 0, 128, 16, 1, 0};
            int kind = static_cast<int>(r(0, 9));
            s.loopType = kind < 3 ? 1 : kind < 6 ? 2 : 4;
            s.loopStart = r(0, 2) == 0 ? 0 : static_cast<uint32_t>(r(0, length - 1));
            s.loopLength = static_cast<uint32_t>(r(1, length - s.loopStart));
            if (r(0, 30) == 0) s.loopLength = 0; // a looping sample without a loop
            if (s.loopType != 1 && s.loopLength > 0) {
                int16_t* end = d + s.loopStart + s.loopLength;
                *end = s.loopType == 4 ? end[-1] : d[s.loopStart];
            }

            MixChannel& c = voices[v];
            c = MixChannel{};
            c.number = v;
            c.sample = r(0, 12) == 0 ? nullptr : &s;
            c.direction = r(0, 3) == 0 ? 2 : 1;
            int where = static_cast<int>(r(0, 5));
            c.position = where == 0   ? 0xFFFFFFFFu // just before data[0]
                         : where == 1 ? s.loopStart + s.loopLength - static_cast<uint32_t>(r(0, 2))
                         : where == 2 ? s.loopStart
                                      : static_cast<uint32_t>(r(0, length));
            c.positionFraction = static_cast<uint32_t>(r(0, 0xFFFFFFFFll));
            int speed = static_cast<int>(r(0, 9));
            c.step = static_cast<int32_t>(speed == 0 ? 0 : speed < 7 ? r(0, 3) : r(4, 400));
            c.stepFraction = static_cast<uint32_t>(r(0, 3) == 0 ? r(0, 300) : r(0, 0xFFFFFFFFll));
            auto gain = [&] {
                int k = static_cast<int>(r(0, 4));
                return k < 2 ? 0 : k == 2 ? 255 : static_cast<int32_t>(r(1, 254));
            };
            c.leftVolume = gain();
            c.rightVolume = gain();
            auto held = [&](int32_t volume) {
                int k = static_cast<int>(r(0, 3));
                return k == 0   ? 0
                       : k == 1 ? volume * 256
                                : static_cast<int32_t>(r(0, k == 2 ? 255 : 65535));
            };
            c.currentLeft = held(c.leftVolume);
            c.currentRight = held(c.rightVolume);
            if (r(0, 3) == 0) { // a ramp under way, perhaps towards other volumes
                c.rampFramesLeft = static_cast<int32_t>(r(1, 128));
                c.rampTargetLeft = r(0, 1) ? c.leftVolume : 0;
                c.rampTargetRight = c.rightVolume;
                c.rampStepLeft = static_cast<float>(r(-900, 900)) / 65536.0f;
                c.rampStepRight = static_cast<float>(r(-900, 900)) / 65536.0f;
            }
        }
    }
};

} // namespace

TEST_F(LoopsReset, EveryLoopWidthMixesTheSame) {
    setMixingLoops(-1);
    EXPECT_EQ(mixingLoops(), 0);
    setMixingLoops(99);
    const int32_t widest = mixingLoops();
    EXPECT_GE(widest, 1); // SSE2 is part of every x86-64 processor
    EXPECT_LE(widest, 2);

    std::mt19937_64 rng(20240611);
    for (int round = 0; round < 60; ++round) {
        Scene scene(rng);
        std::vector<int32_t> pieces;
        for (int p = 0; p < 6; ++p)
            pieces.push_back(
                static_cast<int32_t>(rng() % 5 == 0 ? 1 + rng() % 3 : 1 + rng() % 900));
        std::vector<std::vector<int16_t>> heard(widest + 1);
        std::vector<std::vector<int64_t>> states(widest + 1);
        for (int32_t width = 0; width <= widest; ++width) {
            setMixingLoops(width);
            std::copy(scene.voices.begin(), scene.voices.end(), mixChannels);
            std::mt19937 volumes(round);
            for (int32_t frames : pieces) {
                std::vector<float> mix(2 * frames, 0.0f);
                mixVoices(mix.data(), frames);
                std::vector<int16_t> pcm(mix.size());
                convertToPcm16(pcm.data(), mix.data(), frames);
                heard[width].insert(heard[width].end(), pcm.begin(), pcm.end());
                for (int v = 0; v < mixedVoiceCount; ++v) {
                    std::vector<int64_t> s = voiceState(mixChannels[v], scene.samples);
                    states[width].insert(states[width].end(), s.begin(), s.end());
                    // The engine moves the volumes between pieces, often to silence.
                    if (volumes() % 3 == 0) {
                        mixChannels[v].leftVolume = volumes() % 2 ? 0 : int32_t(volumes() % 256);
                        mixChannels[v].rightVolume = volumes() % 2 ? 0 : int32_t(volumes() % 256);
                    }
                }
            }
        }
        for (int32_t width = 1; width <= widest; ++width) {
            ASSERT_EQ(heard[width], heard[0]) << "round " << round << ", width " << width;
            ASSERT_EQ(states[width], states[0]) << "round " << round << ", width " << width;
        }
    }
}

TEST_F(LoopsReset, SilentVoicesMoveLikeAudibleOnes) {
    const std::vector<int16_t> noise = hashNoise(5000);
    auto forward = makeSample(noise, 2, 300, 4000);
    auto bouncing = makeSample(noise, 4, 0, 900);
    auto once = makeSample(noise);
    struct Case {
        Sample* sample;
        double position, step;
        int32_t direction;
    };
    for (Case c : {Case{&forward->sample, 4100.7, 3.3, 1}, Case{&bouncing->sample, 3.0, 1.37, 2},
                   Case{&bouncing->sample, 880.25, 7.77, 1}, Case{&once->sample, 4000.0, 2.9, 1}}) {
        // Voice 0 plays, voice 1 is the same voice at gain 0 all along.
        startVoice(0, c.sample, c.position, c.step, 180, 70).direction = c.direction;
        startVoice(1, c.sample, c.position, c.step, 0, 0).direction = c.direction;
        std::vector<float> both(2 * 1500, -0.0f);
        mixVoices(both.data(), 700);
        mixVoices(both.data() + 1400, 800);
        const MixChannel &loud = mixChannels[0], &silent = mixChannels[1];
        EXPECT_TRUE(silent.position == loud.position &&
                    silent.positionFraction == loud.positionFraction &&
                    silent.direction == loud.direction && silent.sample == loud.sample);

        startVoice(0, c.sample, c.position, c.step, 180, 70).direction = c.direction;
        mixChannels[1] = MixChannel{};
        std::vector<float> alone(2 * 1500, -0.0f);
        mixVoices(alone.data(), 700);
        mixVoices(alone.data() + 1400, 800);
        EXPECT_EQ(both, alone); // a -0 may have become +0, which compares equal
    }
    // The one-shot voice ran off its end and stopped; gain 0 with a held remainder
    // or a ramp still sounds.
    EXPECT_EQ(mixChannels[0].sample, nullptr);
    for (int side = 0; side < 2; ++side) {
        MixChannel& v = startVoice(2, &forward->sample, 10.0, 1.0, 0, 0);
        (side ? v.currentRight : v.currentLeft) = 200;
        std::vector<float> out(6, 0.0f);
        mixVoices(out.data(), 3); // the odd last frame takes the held gain
        EXPECT_EQ(out[0] + out[1] + out[2] + out[3] + out[5 - side], 0.0f);
        EXPECT_NE(out[4 + side], 0.0f);
    }
}

TEST(ConvertToPcm16Blocks, MatchesRoundingEachValue) {
    // Reference: NaN is 0, clamps first, then round to nearest with ties to even.
    auto expected = [](float value) -> int16_t {
        if (std::isnan(value)) return 0;
        value = std::fmin(std::fmax(value, -32768.0f), 32767.0f);
        return static_cast<int16_t>(std::nearbyint(value));
    };
    std::vector<float> values = {0.5f,      1.5f,      2.5f,      -0.5f,    -1.5f,    -2.5f,
                                 -0.0f,     32766.5f,  32767.0f,  32767.5f, 32768.0f, -32767.5f,
                                 -32768.0f, -32768.5f, -40000.0f, 1e10f,    -1e10f,   INFINITY,
                                 -INFINITY, NAN,       -NAN,      1e-40f,   -1e-40f,  0x1p31f,
                                 -0x1p31f,  12345.49f, -12345.51f};
    std::mt19937 rng(7);
    while (values.size() < 20000) {
        uint32_t bits = rng();
        if (rng() % 2) bits = (bits & 0x807FFFFFu) | (120 + rng() % 26) << 23; // |x| < 65536
        float value = std::bit_cast<float>(bits);
        if (rng() % 5 == 0)
            value = static_cast<float>(int32_t(rng() % 140001) - 70000) / 2; // halves
        values.push_back(value);
    }
    // Every length from 1 to 9 frames and every start, so the vector loop and the
    // tail meet at every point.
    for (size_t start = 0; start < 4; ++start)
        for (int32_t frames = 1; frames <= 9; ++frames) {
            std::vector<int16_t> out(2 * frames + 1, 0x5A5A);
            convertToPcm16(out.data(), values.data() + start, frames);
            for (int32_t i = 0; i < 2 * frames; ++i)
                ASSERT_EQ(out[i], expected(values[start + i])) << values[start + i];
            EXPECT_EQ(out[2 * frames], 0x5A5A);
        }
    std::vector<int16_t> out(values.size());
    convertToPcm16(out.data(), values.data(), static_cast<int32_t>(values.size() / 2));
    for (size_t i = 0; i < values.size(); ++i)
        ASSERT_EQ(out[i], expected(values[i])) << i << ": " << values[i];
    convertToPcm16(out.data(), nullptr, 5); // nothing to convert: nothing written
    convertToPcm16(out.data(), values.data() + 2, 0);
    EXPECT_EQ(out[0], expected(values[0]));
}
