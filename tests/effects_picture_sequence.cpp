// The opening and the white-out on the recording device. Frames of 1/64 s keep every
// timer and level exact in binary, so the frame of each transition can be named.
#include "effects/picture_sequence.h"

#include "app/frame_clock.h"
#include "app/random.h"
#include "assets/opening_assets.h"
#include "tests/effects_support.h"

#include <cstring>
#include <iterator>
#include <random>

namespace {

constexpr float tick = 1.0f / 64.0f;
constexpr uint32_t sheetId = 1, logoId = 2; // texture ids in creation order

float glyphU(int32_t g) { // uLeft of glyph record g
    float u;
    std::memcpy(&u, openingFont + 8 + 20 * g, 4);
    return u;
}

// -1, 1, 0 in the order they may come.
int32_t rank(int32_t result) {
    return result == -1 ? 0 : result == 1 ? 1 : 2;
}

// The grey of the first quad of a list of draws, ~0 when nothing was drawn.
uint32_t level(const std::vector<RecordedCall>& draws) {
    return draws.empty() ? ~0u : vertexWord(draws[0], 0, vxDiffuse);
}

struct Frame {
    int32_t result;
    std::vector<RecordedCall> picture, whiteout;
};

// Shutdown is safe before any init and twice over (init failures are the reliability
// tests' part).
class PictureSequenceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        recordReset();
        shutdownPictureSequence();
        seedRandom(4357);
        ASSERT_EQ(initPictureSequence(), 0);
        deviceBeginScene();
    }
    void TearDown() override {
        shutdownPictureSequence();
        shutdownPictureSequence();
        EXPECT_EQ(recordLiveObjects(), 0u);
        recordReset();
    }
    // One frame as the shell composes it.
    static Frame frame(float delta) {
        frameDelta = delta;
        recordClearLog();
        Frame f{renderPictureSequence(), {}, {}};
        if (f.result != -1) renderWhiteout();
        for (const RecordedCall* d : recordedDraws())
            (d->state.texture ? f.picture : f.whiteout).push_back(*d);
        return f;
    }
    static Frame skipThen(int32_t frames, float delta = tick) {
        for (int32_t k = 0; k < frames; k++)
            frame(tick);
        return frame(delta);
    }
};

TEST_F(PictureSequenceTest, StepTimingsFadesAndResults) {
    // frame, result, picture quads, picture level, white-out level (-1: none)
    struct Expect {
        int32_t frame, result, quads, grey, white;
    };
    const Expect table[] = {
        {1, -1, 10, 0, -1},      // the date line starts at level 0
        {65, -1, 10, 64, -1},    // fading in over 4 s: 0.25
        {129, -1, 10, 128, -1},  // 127.5 rounds to even
        {257, -1, 10, 255, -1},  // full; holds until its timer reaches 1.5 s
        {929, -1, 10, 255, -1},  //
        {930, -1, 10, 251, -1},  // fading out over 1 s
        {1025, -1, 10, 0, -1},   // black; the first frame with the timer below 0
        {1026, -1, 18, 0, -1},   // the venue line, overshoot dropped: 8 s from here
        {1058, -1, 18, 128, -1}, // fading in over 1 s
        {1443, -1, 18, 251, -1}, //
        {1538, -1, 18, 0, -1},   //
        {1539, -1, 6, 0, -1},    // the country line
        {2051, -1, 6, 0, -1},    //
        {2052, -1, 3, 0, -1},    // the logo
        {2116, -1, 3, 255, -1},  //
        {2210, -1, 3, 255, -1},  //
        {2211, 1, 3, 255, 4},    // its hold ends: the ending and the white-out begin
        {2274, 1, 3, 8, 255},    //
        {2275, 1, 3, 4, 255},    // the white-out passes 1 while the logo still shows
        {2276, 0, 0, -1, 251},   // the opening is over; the white-out falls
        {2340, 0, 0, -1, 0},     // back at 0, drawn one last time
        {2341, 0, 0, -1, -1},    //
    };
    auto grey = [](int32_t level) { return level < 0 ? ~0u : greyOf(uint32_t(level)); };
    int32_t lastRank = 0;
    size_t next = 0;
    for (int32_t k = 1; next < std::size(table); k++) {
        Frame f = frame(tick);
        ASSERT_GE(rank(f.result), lastRank) << k; // -1, 1, 0 and never back
        lastRank = rank(f.result);
        if (k != table[next].frame) continue;
        const Expect& e = table[next++];
        EXPECT_EQ(f.result, e.result) << k;
        EXPECT_EQ(f.picture.size(), size_t(e.quads)) << k;
        EXPECT_EQ(level(f.picture), grey(e.grey)) << k;
        EXPECT_EQ(level(f.whiteout), grey(e.white)) << k;
    }
}

TEST_F(PictureSequenceTest, UploadsTextStatesAndZoom) {
    const RecordedTexture *sheet = recordedTexture(sheetId), *logo = recordedTexture(logoId);
    EXPECT_TRUE(sheet->format == fmtA4R4G4B4 && logo->format == fmtR5G6B5);
    EXPECT_EQ(std::memcmp(sheet->levelBytes[0].data(), glyphSheet, 131072), 0);
    EXPECT_EQ(std::memcmp(logo->levelBytes[0].data(), logoImage, 131072), 0);
    Frame f = frame(tick);
    const RecordedCall& d = f.picture[0];
    EXPECT_TRUE(d.args[0] == ptTriangleStrip && d.stride == 28u && d.state.fvf == fvfScreenQuad);
    EXPECT_EQ(d.state.texture, sheetId);
    expectStates(d.state, {rsCullMode, cullNone, rsZEnable, 0});
    EXPECT_EQ(d.state.stage0[tssAddressU], addressClamp);
    expectStates({rsZEnable, 1, rsCullMode, cullClockwise}); // the baseline is back
    EXPECT_EQ(recordedTextureStageState(0, tssAddressU), addressWrap);
    // Unzoomed, ten 17-pixel cells from x 235 on rows 228..253; the first frame draws
    // at zoom 0.5 about (320, 240), 10 s later at zoom 1, the venue line at 0.5 again.
    auto expectCorners = [](const Frame& f, float zoom, float x0, float tolerance) {
        const RecordedCall &first = f.picture[0], &last = f.picture.back();
        const float x1 = x0 + 17.0f * f.picture.size();
        EXPECT_NEAR(vertexFloat(first, 0, vxX), 320 + zoom * (x0 - 320), tolerance);
        EXPECT_NEAR(vertexFloat(first, 0, vxY), 240 - zoom * 12, tolerance);
        EXPECT_NEAR(vertexFloat(last, 3, vxX), 320 + zoom * (x1 - 320), tolerance);
        EXPECT_NEAR(vertexFloat(last, 3, vxY), 240 + zoom * 13, tolerance);
        EXPECT_TRUE(vertexFloat(last, 3, vxZ) == 0.5f && vertexFloat(last, 3, vxRhw) == 0.5f);
    };
    expectCorners(f, 0.5f, 235.0f, 1e-4f);
    expectCorners(skipThen(639), 1.0f, 235.0f, 2e-3f);
    expectCorners(skipThen(384), 0.5f, 320.0f - 17 * 9, 1e-4f);
}

TEST_F(PictureSequenceTest, ScrambledGlyphsSettleIntoTheLine) {
    const char* line = openingLines[0];
    const int32_t n = int32_t(std::strlen(line));
    std::vector<int32_t> numbers;
    seedRandom(99);
    for (int32_t i = 0; i <= 2 * n; i++)
        numbers.push_back(nextRandom());
    seedRandom(99);
    // Frame 1 takes per character one number for its scramble time, one for its glyph;
    // in frame 2 every change timer still runs, so nothing is drawn anew.
    Frame f = frame(tick);
    for (int32_t i = 0; i < n; i++)
        EXPECT_EQ(vertexFloat(f.picture[i], 0, vxU), glyphU(numbers[2 * i + 1] & 63));
    frame(tick);
    EXPECT_EQ(nextRandom(), numbers[2 * n]);

    std::vector<std::vector<float>> shown(n); // the glyph's uLeft, frame by frame from 3
    for (int32_t k = 3; k <= 900; k++) {
        f = frame(tick);
        for (int32_t i = 0; i < n; i++)
            shown[i].push_back(vertexFloat(f.picture[i], 0, vxU));
    }
    int32_t early = 0, late = 0;
    for (int32_t i = 0; i < n; i++) {
        const float real = glyphU(openingFont[1288 + uint8_t(line[i])]);
        size_t settled = shown[i].size();
        while (settled > 0 && shown[i][settled - 1] == real)
            settled--;
        // 3.5 to 4.5 s of counting (224 to 288 frames) plus the frames that picked a
        // glyph, at most every other one; the frame index is settled + 3.
        EXPECT_TRUE(settled + 3 >= 226u && settled + 3 <= 440u) << i << ": " << settled;
        // The glyph changes often far from settling, rarely close to it.
        for (size_t k = 1; k < 64; k++)
            early += shown[i][k] != shown[i][k - 1];
        for (size_t k = settled - 63; k < settled; k++)
            late += shown[i][k] != shown[i][k - 1];
    }
    EXPECT_GT(early, 10 * n);
    EXPECT_GT(early, 2 * late);
}

TEST_F(PictureSequenceTest, LogoBandsAndWhiteoutQuad) {
    const Frame f = skipThen(2051);
    for (uint32_t q = 0; q < 3; q++) { // a third of the picture each, clamped
        const RecordedCall& d = f.picture[q];
        EXPECT_TRUE(d.state.texture == logoId && d.state.stage0[tssAddressU] == addressClamp);
        for (uint32_t i = 0; i < 4; i++) {
            EXPECT_EQ(vertexFloat(d, i, vxX), 256.0f * (q + (i & 1)));
            EXPECT_EQ(vertexFloat(d, i, vxY), i < 2 ? 204.0f : 277.0f);
            EXPECT_EQ(vertexFloat(d, i, vxU), float(i & 1));
            EXPECT_EQ(vertexFloat(d, i, vxV),
                      (i < 2 ? 0.001953125f : 0.279296875f) + 0.27734375f * q);
        }
    }
    const RecordedCall w = skipThen(158).whiteout.at(0);
    expectStates(w.state, {rsAlphaBlendEnable, 1, rsSrcBlend, blendOne, rsDestBlend, blendOne,
                           rsZEnable, 0, rsCullMode, cullNone});
    for (uint32_t i = 0; i < 4; i++) {
        EXPECT_EQ(vertexFloat(w, i, vxX), i & 1 ? 640.0f : 0.0f);
        EXPECT_EQ(vertexFloat(w, i, vxY), i < 2 ? 0.0f : 480.0f);
    }
    expectStates({rsAlphaBlendEnable, 0, rsZEnable, 1, rsCullMode, cullClockwise});
    EXPECT_EQ(level(frame(0.0f).whiteout), greyOf(4)); // no time, no change
}

TEST_F(PictureSequenceTest, LongFramesNeverDrawWrappedLevelsNorStall) {
    // A 7 s frame in the venue line's hold starts its fade-out at -1.0625: drawn black,
    // not as the grey its wrapped colour byte would give.
    EXPECT_EQ(level(skipThen(1125, 7.0f).picture), greyOf(255));
    EXPECT_EQ(level(frame(tick).picture), greyOf(0));
    EXPECT_EQ(frame(tick).picture.size(), 6u);
    // Frames of several seconds during the logo's hold: the ending and the white-out's
    // peak come at once, then the opening is over for good.
    Frame f = skipThen(584, 5.0f);
    EXPECT_EQ(f.result, 1);
    EXPECT_EQ(level(f.whiteout), greyOf(255));
    for (int32_t k = 0; k < 10; k++)
        EXPECT_EQ(frame(3.0f).result, 0);
    EXPECT_TRUE(frame(3.0f).whiteout.empty());

    // Random frame lengths up to 6 s: the results always go -1, 1, 0, and the last frame
    // answering 1 shows the white-out at full level.
    std::mt19937 lengths(2024);
    for (int32_t run = 0; run < 200; run++) {
        TearDown();
        SetUp();
        std::uniform_int_distribution<int32_t> shortFrame(0, 8), longFrame(0, 384);
        std::bernoulli_distribution isLong(run % 2 ? 0.3 : 0.05);
        int32_t lastRank = 0, frames = 0, zeros = 0;
        uint32_t lastWhite = 0;
        while (zeros < 20) {
            ASSERT_LT(++frames, 20000) << "run " << run;
            Frame g =
                frame(float(isLong(lengths) ? longFrame(lengths) : shortFrame(lengths)) * tick);
            const int32_t r = rank(g.result);
            ASSERT_TRUE(r == lastRank || r == lastRank + 1) << "run " << run << " frame " << frames;
            if (r == 2) {
                ASSERT_TRUE(g.picture.empty());
                ASSERT_TRUE(lastRank == 2 || lastWhite == greyOf(255)) << run;
            }
            zeros += r == 2;
            lastRank = r;
            lastWhite = level(g.whiteout);
        }
    }
}

} // namespace
