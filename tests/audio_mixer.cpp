// The software mixer: interpolation, sample ends, loops, gain ramps and reads kept
// inside the sample data.
#include "audio_support.h"

#include <gtest/gtest.h>

using namespace audiotest;

namespace {
std::vector<float> mix(int32_t frames) {
    std::vector<float> out(2 * frames + 2, 0.0f);
    mixVoices(out.data(), frames);
    return out;
}

struct Mixer : ::testing::Test {
    void SetUp() override {
        silenceAllVoices();
        setRampLength(128);
    }
};
} // namespace

TEST_F(Mixer, InterpolatesAndStopsAtTheSampleEnd) {
    auto s = makeSample({0, 1000});
    MixChannel& v = startVoice(0, &s->sample, 0.0, 0.5, 255, 255);
    std::vector<float> out = mix(6);
    // 0, 0.5, 1.0, then 1.5 between the last value and the zero guard slot.
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 10),
              (std::vector<float>{0, 0, 500, 500, 1000, 1000, 500, 500, 0, 0}));
    EXPECT_EQ(v.sample, nullptr);

    // Length 10 at step 3: positions 0, 3, 6, 9, then the voice stops for good.
    auto ten = makeSample(line(10, 100, 100));
    startVoice(0, &ten->sample, 0.0, 3.0, 255, 0);
    out = mix(10);
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 10),
              (std::vector<float>{100, 0, 400, 0, 700, 0, 1000, 0, 0, 0}));
    EXPECT_EQ(v.sample, nullptr);
    EXPECT_EQ(v.position, 0u);
    Sample empty{};
    startVoice(1, &empty, 0.0, 1.0, 255, 255);
    mix(4);
    EXPECT_EQ(mixChannels[1].sample, nullptr);
}

TEST_F(Mixer, ForwardAndPingPongLoops) {
    auto s = makeSample(line(200, 0, 10), 2, 100, 100);
    MixChannel& v = startVoice(0, &s->sample, 199.5, 1.5, 255, 255);
    EXPECT_EQ(mix(1)[0], 1495.0f); // halfway to the guard slot, which holds data[100]
    EXPECT_EQ(v.position, 101u);
    EXPECT_EQ(v.positionFraction, 0u);

    auto p = makeSample(line(200, 0, 10), 4, 100, 100);
    startVoice(0, &p->sample, 199.75, 0.5, 255, 255);
    EXPECT_EQ(mix(1)[0], 1990.0f);
    EXPECT_EQ(v.position, 199u); // 2 * 200 - 200.25 - 2^-32, now moving backwards
    EXPECT_EQ(v.positionFraction, 0xBFFFFFFFu);
    EXPECT_EQ(v.direction, 2);

    // Backwards onto a loop start of 0: the reflection lands just before data[0], and
    // that slot reads as 0.
    auto z = makeSample({1000, 2000, 3000, 4000}, 4, 0, 4);
    startVoice(0, &z->sample, 1.0, 1.0, 255, 255).direction = 2;
    EXPECT_EQ(mix(1)[0], 2000.0f);
    EXPECT_EQ(v.position, 0xFFFFFFFFu);
    EXPECT_EQ(v.direction, 1);
    startVoice(0, &z->sample, 0.0, 0.25, 255, 255);
    v.position = 0xFFFFFFFFu;
    v.positionFraction = 0x80000000u; // -0.5
    std::vector<float> out = mix(3);
    EXPECT_EQ(out[0], 500.0f);
    EXPECT_EQ(out[2], 750.0f);
    EXPECT_EQ(out[4], 1000.0f);
}

TEST_F(Mixer, KeepsEveryReadInsideTheData) {
    auto looped = makeSample(line(200, 0, 10), 2, 100, 100);
    auto bouncing = makeSample(line(200, 0, 10), 4, 100, 100);
    auto wide = makeSample(line(1000, 0, 1));
    auto broken = makeSample(line(150, 0, 10), 2, 100, 50);
    broken->sample.loopLength = 200;                      // a loop reaching past the data
    startVoice(0, &looped->sample, 250.0, 1.0, 255, 255); // past the loop end
    startVoice(1, &bouncing->sample, 50.0, 1.0, 255, 255).direction = 2; // before its start
    startVoice(2, &broken->sample, 0.0, 1.0, 255, 255);
    startVoice(3, &wide->sample, 0.0, 65536.0, 255, 255);
    std::vector<float> out = mix(16);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(mixChannels[i].sample, nullptr) << i;
    EXPECT_EQ(out[0], 0.0f);

    // Less than a sample past the loop end (left by the truncated boundary search)
    // counts as reaching it.
    MixChannel& v = startVoice(0, &looped->sample, 200.0, 1.0, 255, 255);
    v.positionFraction = 100;
    EXPECT_EQ(mix(1)[0], 1000.0f);
    EXPECT_EQ(v.position, 101u);
    // Steps beyond the 8.24 boundary search: 0, 300, 600, 900, then the end.
    startVoice(0, &wide->sample, 0.0, 300.0, 255, 0);
    out = mix(6);
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 10),
              (std::vector<float>{0, 0, 300, 0, 600, 0, 900, 0, 0, 0}));
    // A step too small for the boundary search creeps up to the end and stops there.
    auto shortOne = makeSample(line(10, 0, 100));
    startVoice(0, &shortOne->sample, 9.999, 0.0, 255, 255).stepFraction = 200;
    for (int piece = 0; piece < 100 && v.sample; ++piece)
        mix(884);
    EXPECT_EQ(v.sample, nullptr);
}

TEST_F(Mixer, GainRamps) {
    // From silence to 255 on the left: frame i gets s * i / 128.
    auto s = makeSample(std::vector<int16_t>(64, 1000), 2, 0, 64);
    MixChannel& v = startVoice(0, &s->sample, 0.0, 1.0, 255, 0, true);
    std::vector<float> out = mix(50); // the ramp goes on across pieces and loop ends
    EXPECT_EQ(v.rampFramesLeft, 78);
    std::vector<float> rest = mix(100);
    out.resize(100);
    out.insert(out.end(), rest.begin(), rest.end());
    for (int i = 0; i < 128; ++i)
        EXPECT_NEAR(out[2 * i], 1000.0f * i / 128, 0.02) << i;
    EXPECT_EQ(out[2 * 140], 1000.0f);
    for (int i = 0; i < 150; ++i)
        EXPECT_EQ(out[2 * i + 1], 0.0f);
    EXPECT_EQ(v.currentLeft, 65280);
    EXPECT_EQ(v.rampFramesLeft, 0);

    // A voice swapped out for its partner glides down to silence and plays on silently.
    startVoice(0, &s->sample, 0.0, 1.0, 128, 128);
    v.leftVolume = v.rightVolume = 0;
    out = mix(200);
    EXPECT_NEAR(out[0], 1000.0f * 128 / 255, 1e-3);
    EXPECT_NEAR(out[2 * 64], 1000.0f * 64 / 255, 0.02);
    for (int i = 1; i < 128; ++i)
        EXPECT_LT(out[2 * i], out[2 * i - 2]) << i;
    EXPECT_EQ(out[2 * 128], 0.0f);
    EXPECT_NE(v.sample, nullptr);

    // Without a ramp an odd last frame takes the gain held in currentLeft.
    startVoice(0, &s->sample, 0.0, 1.0, 100, 100).currentLeft = 100 * 256 + 128;
    out = mix(3);
    EXPECT_NEAR(out[2], 1000.0f * 100 / 255, 1e-3);
    EXPECT_NEAR(out[4], 1000.0f * 100.5 / 255, 1e-3);
}
