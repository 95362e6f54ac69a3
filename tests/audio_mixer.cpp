// The software mixer: interpolation, sample ends, forward and ping-pong loops, gain
// ramps, reads kept inside the sample data, and the conversion to 16-bit PCM.
#include "audio/mixer.h"
#include "audio_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace audiotest;

namespace {

// Mixes `frames` frames of every voice into a fresh zeroed buffer.
std::vector<float> mix(int32_t frames) {
    std::vector<float> out(2 * static_cast<size_t>(frames) + 2, 0.0f);
    mixVoices(out.data(), frames);
    return out;
}

std::vector<int16_t> ramp(size_t count, int16_t scale) {
    std::vector<int16_t> v(count);
    for (size_t i = 0; i < count; ++i) v[i] = static_cast<int16_t>(i * scale);
    return v;
}

class Mixer : public ::testing::Test {
  protected:
    void SetUp() override {
        silenceAllVoices();
        setRampLength(128);
    }
    void TearDown() override { silenceAllVoices(); }
};

} // namespace

TEST_F(Mixer, RampFromSilenceRisesLinearlyAndCarriesAcrossPieces) {
    auto s = makeSample(constantValues(1000, 1000));
    MixChannel& v = startVoice(0, &s->sample, 0.0, 1.0, 255, 0, true);
    std::vector<float> out = mix(128);
    for (int i = 0; i < 128; ++i) {
        EXPECT_FLOAT_EQ(out[2 * i], 1000.0f * i / 128.0f) << "frame " << i;
        EXPECT_EQ(out[2 * i + 1], 0.0f);
    }
    EXPECT_EQ(v.currentLeft, 65280);
    EXPECT_EQ(v.currentRight, 0);
    EXPECT_EQ(v.rampFramesLeft, 0);
    EXPECT_EQ(v.rampStepLeft, 0.0f);
    EXPECT_EQ(v.position, 128u);

    // The same ramp cut into pieces of 50 and 78 frames continues where it stopped.
    startVoice(0, &s->sample, 0.0, 1.0, 255, 0, true);
    std::vector<float> first = mix(50);
    EXPECT_EQ(v.rampFramesLeft, 78);
    EXPECT_EQ(v.currentLeft, 25500); // 50/128 of full scale, times 255 * 256
    std::vector<float> second = mix(78);
    EXPECT_NEAR(second[0], 1000.0f * 50 / 128.0f, 0.01f);
    EXPECT_NEAR(second[2 * 77], 1000.0f * 127 / 128.0f, 0.01f);
    EXPECT_EQ(v.currentLeft, 65280);
    // After the ramp the gain stays at full scale.
    std::vector<float> after = mix(4);
    EXPECT_EQ(after[0], 1000.0f);
    EXPECT_EQ(after[6], 1000.0f);
}

TEST_F(Mixer, InterpolatesLinearlyBetweenNeighbours) {
    auto s = makeSample({0, 1000});
    MixChannel& v = startVoice(0, &s->sample, 0.0, 0.5, 255, 255);
    std::vector<float> out = mix(8);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[2], 500.0f);
    EXPECT_EQ(out[4], 1000.0f);
    EXPECT_EQ(out[5], 1000.0f);
    // 1.5 reads between the last value and the zero guard slot; then the end is reached.
    EXPECT_EQ(out[6], 500.0f);
    EXPECT_EQ(out[8], 0.0f);
    EXPECT_EQ(v.sample, nullptr);

    // Falling values and a quarter step; the gain scales the interpolated value.
    auto falling = makeSample({-400, -1200, 0});
    startVoice(0, &falling->sample, 0.25, 0.25, 51, 255);
    out = mix(4);
    EXPECT_EQ(out[1], -600.0f);
    EXPECT_EQ(out[3], -800.0f);
    EXPECT_EQ(out[5], -1000.0f);
    EXPECT_EQ(out[7], -1200.0f);
    EXPECT_NEAR(out[0], -600.0f * 51 / 255, 1e-3);
}

TEST_F(Mixer, SampleEndStopsTheVoice) {
    std::vector<int16_t> values;
    for (int i = 1; i <= 10; ++i) values.push_back(static_cast<int16_t>(i * 100));
    auto s = makeSample(values);
    MixChannel& v = startVoice(0, &s->sample, 0.0, 3.0, 255, 255);
    std::vector<float> out = mix(10);
    // Positions 0, 3, 6, 9: ceil(10 / 3) = 4 frames.
    EXPECT_EQ(out[0], 100.0f);
    EXPECT_EQ(out[2], 400.0f);
    EXPECT_EQ(out[4], 700.0f);
    EXPECT_EQ(out[6], 1000.0f);
    for (int i = 8; i < 20; ++i) EXPECT_EQ(out[i], 0.0f) << i;
    EXPECT_EQ(v.sample, nullptr);
    EXPECT_EQ(v.position, 0u);
    EXPECT_EQ(v.positionFraction, 0u);

    // The shared empty sample, and a sample of length 0, stop at once.
    Sample empty{};
    startVoice(1, &empty, 0.0, 1.0, 255, 255);
    auto zeroLength = makeSample({});
    startVoice(2, &zeroLength->sample, 0.0, 1.0, 255, 255);
    out = mix(4);
    EXPECT_EQ(mixChannels[1].sample, nullptr);
    EXPECT_EQ(mixChannels[2].sample, nullptr);
    for (float f : out) EXPECT_EQ(f, 0.0f);
}

TEST_F(Mixer, ForwardLoopWrapsByTheLoopLength) {
    auto s = makeSample(ramp(200, 10), 2, 100, 100);
    MixChannel& v = startVoice(0, &s->sample, 199.5, 1.5, 255, 255);
    std::vector<float> out = mix(1);
    EXPECT_EQ(out[0], 1495.0f); // halfway between 1990 and the guard slot's 1000
    EXPECT_EQ(v.position, 101u);
    EXPECT_EQ(v.positionFraction, 0u);
    out = mix(1);
    EXPECT_EQ(out[0], 1010.0f);

    // Many passes through a short loop at a step longer than the loop.
    auto shortLoop = makeSample(ramp(8, 100), 2, 4, 3);
    startVoice(0, &shortLoop->sample, 0.0, 4.75, 255, 255);
    for (int piece = 0; piece < 50; ++piece) {
        out = mix(884);
        ASSERT_NE(v.sample, nullptr);
        ASSERT_GE(v.position, 4u);
        ASSERT_LT(v.position, 7u);
        for (int i = 0; i < 884; ++i) ASSERT_LE(out[2 * i], 700.0f);
    }
}

TEST_F(Mixer, PingPongLoopReflectsAtBothEnds) {
    auto s = makeSample(ramp(200, 10), 4, 100, 100);
    MixChannel& v = startVoice(0, &s->sample, 199.75, 0.5, 255, 255);
    std::vector<float> out = mix(1);
    EXPECT_EQ(out[0], 1990.0f);
    // 2 * 200 - 200.25 - 2^-32, moving backwards.
    EXPECT_EQ(v.position, 199u);
    EXPECT_EQ(v.positionFraction, 0xBFFFFFFFu);
    EXPECT_EQ(v.direction, 2);

    // Backwards to a loop start of 0: the reflection lands just before data[0].
    auto atZero = makeSample({1000, 2000, 3000, 4000}, 4, 0, 4);
    MixChannel& w = startVoice(1, &atZero->sample, 1.0, 1.0, 255, 255);
    w.direction = 2;
    v.sample = nullptr;
    out = mix(1);
    EXPECT_EQ(out[0], 2000.0f);
    EXPECT_EQ(w.position, 0xFFFFFFFFu);
    EXPECT_EQ(w.positionFraction, 0xFFFFFFFFu);
    EXPECT_EQ(w.direction, 1);
    out = mix(2);
    EXPECT_EQ(out[0], 1000.0f);
    EXPECT_EQ(out[2], 2000.0f);

    // Between that slot and data[0] the slot reads as 0 (no read before the data).
    startVoice(1, &atZero->sample, 0.0, 0.25, 255, 255);
    w.position = 0xFFFFFFFFu;
    w.positionFraction = 0x80000000u;
    out = mix(4);
    EXPECT_EQ(out[0], 500.0f);
    EXPECT_EQ(out[2], 750.0f);
    EXPECT_EQ(out[4], 1000.0f);
    EXPECT_EQ(out[6], 1250.0f);

    // A long stretch bouncing in a loop of one sample stays inside the data.
    auto tiny = makeSample({5, 6, 7}, 4, 1, 1);
    startVoice(1, &tiny->sample, 0.0, 2.5, 255, 255);
    for (int piece = 0; piece < 20; ++piece) {
        out = mix(884);
        ASSERT_NE(w.sample, nullptr);
        ASSERT_LE(w.position, 2u);
    }
}

TEST_F(Mixer, KeepsEveryReadInsideTheData) {
    auto looped = makeSample(ramp(200, 10), 2, 100, 100);
    auto bouncing = makeSample(ramp(200, 10), 4, 100, 100);

    // Positions outside the loop stop the voice before anything is read.
    startVoice(0, &looped->sample, 250.0, 1.0, 255, 255);
    startVoice(1, &bouncing->sample, 50.0, 1.0, 255, 255).direction = 2;
    startVoice(2, &bouncing->sample, 230.0, 1.0, 255, 255).direction = 2;
    std::vector<float> out = mix(16);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(mixChannels[i].sample, nullptr) << "voice " << i;
    for (float f : out) EXPECT_EQ(f, 0.0f);

    // Less than a sample past the loop end counts as having reached it.
    MixChannel& v = startVoice(0, &looped->sample, 200.0, 1.0, 255, 255);
    v.positionFraction = 100;
    out = mix(1);
    EXPECT_EQ(out[0], 1000.0f);
    EXPECT_EQ(v.position, 101u);
    EXPECT_NE(v.sample, nullptr);

    // Samples whose loop lies beyond the data, without data, or with an empty loop.
    auto broken = makeSample(ramp(150, 10), 2, 100, 100);
    broken->sample.loopLength = 200;
    Sample noData{};
    noData.length = 10;
    noData.loopLength = 10;
    noData.loopType = 1;
    auto emptyLoop = makeSample(ramp(20, 10), 2, 10, 1);
    emptyLoop->sample.loopLength = 0;
    startVoice(0, &broken->sample, 0.0, 1.0, 255, 255);
    startVoice(1, &noData, 0.0, 1.0, 255, 255);
    startVoice(2, &emptyLoop->sample, 5.0, 1.0, 255, 255);
    out = mix(64);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(mixChannels[i].sample, nullptr) << "voice " << i;

    // Steps beyond the 8.24 boundary search: positions 0, 300, 600, 900, then the end.
    auto wide = makeSample(ramp(1000, 1));
    MixChannel& fast = startVoice(0, &wide->sample, 0.0, 300.0, 255, 255);
    out = mix(8);
    EXPECT_EQ(out[2], 300.0f);
    EXPECT_EQ(out[6], 900.0f);
    EXPECT_EQ(out[8], 0.0f);
    EXPECT_EQ(fast.sample, nullptr);

    // A step of 0 holds its place; a step too small for the boundary search creeps
    // up to the sample end and stops there.
    MixChannel& held = startVoice(0, &wide->sample, 5.0, 0.0, 255, 255);
    out = mix(884);
    EXPECT_EQ(out[2 * 883], 5.0f);
    EXPECT_EQ(held.position, 5u);
    auto shortOne = makeSample(ramp(10, 100));
    MixChannel& creeping = startVoice(0, &shortOne->sample, 9.999, 0.0, 255, 255);
    creeping.stepFraction = 200;
    int pieces = 0;
    while (creeping.sample && pieces < 100) {
        mix(884);
        ++pieces;
    }
    EXPECT_EQ(creeping.sample, nullptr);
    EXPECT_GT(pieces, 1);
}

TEST_F(Mixer, GainChangesGlideOverTheRampLength) {
    auto s = makeSample(constantValues(64, 1000), 2, 0, 64);

    // A swapped-out voice ramps down from its old gains to silence and plays on silently.
    MixChannel& v = startVoice(0, &s->sample, 0.0, 1.0, 128, 128);
    v.leftVolume = 0;
    v.rightVolume = 0;
    std::vector<float> out = mix(200);
    float start = 1000.0f * 128 / 255;
    EXPECT_NEAR(out[0], start, 1e-3);
    EXPECT_NEAR(out[1], start, 1e-3);
    EXPECT_NEAR(out[2 * 64], start / 2, 1e-2);
    for (int i = 1; i < 128; ++i) EXPECT_LT(out[2 * i], out[2 * i - 2]) << i;
    for (int i = 128; i < 200; ++i) EXPECT_EQ(out[2 * i], 0.0f) << i;
    EXPECT_EQ(v.currentLeft, 0);
    EXPECT_EQ(v.rampFramesLeft, 0);
    EXPECT_NE(v.sample, nullptr);

    // A new target in the middle of a ramp starts a new ramp from the gain reached.
    startVoice(0, &s->sample, 0.0, 1.0, 255, 255, true);
    mix(64);
    EXPECT_EQ(v.rampFramesLeft, 64);
    v.leftVolume = 0;
    out = mix(10);
    EXPECT_EQ(v.rampFramesLeft, 118);
    EXPECT_NEAR(out[0], 500.0f, 1.0f); // left falls from half scale
    EXPECT_GT(out[19], out[1]);        // right glides on towards full scale

    // Without a ramp, frames go in pairs at the target gain; an odd last frame takes
    // the gain held in currentLeft, fraction bits included.
    startVoice(0, &s->sample, 0.0, 1.0, 100, 100);
    v.currentLeft = 100 * 256 + 128;
    out = mix(3);
    EXPECT_EQ(v.rampFramesLeft, 0);
    EXPECT_EQ(out[0], out[2]);
    EXPECT_NEAR(out[0], 1000.0f * 100 / 255, 1e-3);
    EXPECT_NEAR(out[4], 1000.0f * 100.5 / 255, 1e-3);
    EXPECT_EQ(out[5], out[1]);
}

TEST_F(Mixer, MixesOnlyVoicesZeroTo63InOrder) {
    auto s = makeSample(constantValues(64, 1000), 2, 0, 64);
    startVoice(0, &s->sample, 0.0, 1.0, 255, 0);
    startVoice(63, &s->sample, 0.0, 1.0, 0, 255);
    MixChannel& ignored = startVoice(64, &s->sample, 0.0, 1.0, 255, 255);
    std::vector<float> out = mix(4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(out[2 * i], 1000.0f);
        EXPECT_EQ(out[2 * i + 1], 1000.0f);
    }
    EXPECT_EQ(ignored.position, 0u);

    // Nothing happens for an empty piece, and the mix adds to what is there.
    std::vector<float> buffer(8, 1.0f);
    mixVoices(buffer.data(), 0);
    mixVoices(buffer.data(), -5);
    EXPECT_EQ(buffer[0], 1.0f);
    mixVoices(buffer.data(), 2);
    EXPECT_EQ(buffer[0], 1001.0f);
    EXPECT_EQ(buffer[4], 1.0f);
}

TEST(ConvertToPcm16, RoundsHalfToEvenAndClamps) {
    std::vector<float> in = {32767.5f, -40000.0f, 2.5f,     3.5f,     -2.5f,  0.49f,
                             -0.5f,    40000.0f,  -32768.4f, 32766.6f, 1e30f, -1e30f, NAN, -32768.5f};
    std::vector<int16_t> out(in.size(), 99);
    convertToPcm16(out.data(), in.data(), static_cast<int32_t>(in.size() / 2));
    std::vector<int16_t> expected = {32767, -32768, 2,      4,     -2,    0,
                                     0,     32767,  -32768, 32767, 32767, -32768, 0,  -32768};
    EXPECT_EQ(out, expected);

    std::vector<int16_t> untouched(4, 7);
    convertToPcm16(untouched.data(), in.data(), 0);
    convertToPcm16(untouched.data(), in.data(), -1);
    convertToPcm16(nullptr, in.data(), 2);
    convertToPcm16(untouched.data(), nullptr, 2);
    EXPECT_EQ(untouched, std::vector<int16_t>(4, 7));
}
