// The opening and the white-out, driven frame by frame on the recording device.
// Most runs use frames of 1/64 s, so every timer and level is exact in binary and
// the frame where each transition happens can be named.
#include "effects/picture_sequence.h"

#include "app/frame_clock.h"
#include "app/random.h"
#include "assets/opening_assets.h"
#include "tests/effects_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr float tick = 1.0f / 64.0f;
constexpr uint32_t glyphTextureId = 1; // created first by init
constexpr uint32_t logoTextureId = 2;

struct Glyph {
    float uLeft, vTop, uRight, vBottom;
    int32_t width;
};

Glyph glyphRecord(int32_t g) {
    Glyph glyph;
    std::memcpy(&glyph, openingFont + 8 + 20 * g, sizeof glyph);
    return glyph;
}

int32_t mappedGlyph(char c) { return openingFont[1288 + uint8_t(c)]; }

// The glyph whose top-left texture corner a drawn quad uses, -1 if none.
int32_t glyphOfDraw(const RecordedCall& draw) {
    for (int32_t g = 0; g < 64; g++) {
        Glyph glyph = glyphRecord(g);
        if (vertexFloat(draw, 0, vxU) == glyph.uLeft && vertexFloat(draw, 0, vxV) == glyph.vTop)
            return g;
    }
    return -1;
}

bool isWhiteout(const RecordedCall& draw) {
    return draw.state.texture == 0 && draw.state.renderStates[rsAlphaBlendEnable] == 1;
}

struct FrameSummary {
    int32_t result = 0;
    uint32_t pictureDraws = 0;
    uint32_t pictureTexture = 0;
    uint32_t pictureColor = 0;
    uint32_t whiteoutDraws = 0;
    uint32_t whiteoutColor = 0;
};

class PictureSequenceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        recordReset();
        seedRandom(4357);
        ASSERT_EQ(initPictureSequence(), 0);
        deviceBeginScene();
    }
    void TearDown() override {
        deviceEndScene();
        shutdownPictureSequence();
        EXPECT_EQ(recordLiveObjects(), 0u);
        recordReset();
    }

    // One frame as the shell composes it; its draws stay in the log until the next.
    int32_t frame(float delta) {
        frameDelta = delta;
        recordClearLog();
        int32_t result = renderPictureSequence();
        if (result != -1) renderWhiteout();
        return result;
    }

    FrameSummary summarizedFrame(float delta) {
        FrameSummary s;
        s.result = frame(delta);
        for (const RecordedCall* draw : recordedDraws()) {
            if (isWhiteout(*draw)) {
                s.whiteoutDraws++;
                s.whiteoutColor = vertexWord(*draw, 0, vxDiffuse);
            } else {
                s.pictureDraws++;
                s.pictureTexture = draw->state.texture;
                s.pictureColor = vertexWord(*draw, 0, vxDiffuse);
            }
        }
        return s;
    }

    // Frames 1..count at a fixed length; element k describes frame k.
    std::vector<FrameSummary> run(int32_t count, float delta) {
        std::vector<FrameSummary> frames(1);
        for (int32_t k = 1; k <= count; k++) frames.push_back(summarizedFrame(delta));
        return frames;
    }
};

TEST(PictureSequenceLifecycle, InitUploadsBothPicturesAndShutdownIsSafeAnyTime) {
    recordReset();
    shutdownPictureSequence(); // never initialised
    EXPECT_TRUE(recordedCalls().empty());

    ASSERT_EQ(initPictureSequence(), 0);
    const RecordedTexture* sheet = recordedTexture(glyphTextureId);
    const RecordedTexture* logo = recordedTexture(logoTextureId);
    ASSERT_NE(sheet, nullptr);
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(sheet->format, fmtA4R4G4B4);
    EXPECT_EQ(sheet->width, 256u);
    EXPECT_EQ(sheet->levels, 1u);
    EXPECT_EQ(std::memcmp(sheet->levelBytes[0].data(), glyphSheet, 131072), 0);
    EXPECT_EQ(logo->format, fmtR5G6B5);
    EXPECT_EQ(logo->width, 256u);
    EXPECT_EQ(std::memcmp(logo->levelBytes[0].data(), logoImage, 131072), 0);
    shutdownPictureSequence();
    shutdownPictureSequence();
    EXPECT_EQ(recordLiveObjects(), 0u);

    // The glyph sheet fails: the logo is not attempted.
    recordReset();
    recordFailNth(RecordFault::createTexture, 1);
    EXPECT_EQ(initPictureSequence(), -1);
    EXPECT_EQ(recordedCallsOf(CallKind::createTexture).size(), 1u);
    shutdownPictureSequence();
    EXPECT_EQ(recordLiveObjects(), 0u);

    // The logo's copy fails after its texture exists: shutdown releases both.
    recordReset();
    recordFailNth(RecordFault::surfaceLock, 2);
    EXPECT_EQ(initPictureSequence(), -1);
    EXPECT_EQ(recordLiveObjects(), 2u);
    shutdownPictureSequence();
    EXPECT_EQ(recordLiveObjects(), 0u);
    recordReset();
}

TEST_F(PictureSequenceTest, StepTimingsFadesAndResultsAtSixtyFourFramesPerSecond) {
    std::vector<FrameSummary> f = run(2400, tick);

    // Step 0, the date line (10 characters): 16 s plus the frame that finds the
    // timer negative, frames 1..1025. It fades in over four seconds.
    EXPECT_EQ(f[1].pictureColor, greyOf(0));
    EXPECT_EQ(f[65].pictureColor, greyOf(64));   // 0.25 * 255 = 63.75
    EXPECT_EQ(f[129].pictureColor, greyOf(128)); // 127.5 rounds to even
    EXPECT_EQ(f[256].pictureColor, greyOf(254));
    EXPECT_EQ(f[257].pictureColor, greyOf(255));
    // Holds until the timer reaches 1.5 s (frame 928), then fades out over a second.
    for (int32_t k = 257; k <= 929; k++) ASSERT_EQ(f[k].pictureColor, greyOf(255)) << k;
    EXPECT_EQ(f[930].pictureColor, greyOf(251));
    EXPECT_EQ(f[961].pictureColor, greyOf(128));
    for (int32_t k = 993; k <= 1025; k++) ASSERT_EQ(f[k].pictureColor, greyOf(0)) << k;
    for (int32_t k = 1; k <= 1025; k++) {
        ASSERT_EQ(f[k].pictureDraws, 10u) << k;
        ASSERT_EQ(f[k].pictureTexture, glyphTextureId) << k;
    }

    // Step 1, the venue line (18 characters): frames 1026..1538, fading in over 1 s.
    EXPECT_EQ(f[1026].pictureDraws, 18u);
    EXPECT_EQ(f[1026].pictureColor, greyOf(0));
    EXPECT_EQ(f[1058].pictureColor, greyOf(128));
    EXPECT_EQ(f[1090].pictureColor, greyOf(255));
    EXPECT_EQ(f[1442].pictureColor, greyOf(255));
    EXPECT_EQ(f[1443].pictureColor, greyOf(251));
    EXPECT_EQ(f[1538].pictureDraws, 18u);
    EXPECT_EQ(f[1538].pictureColor, greyOf(0));

    // Step 2, the country line (6 characters): frames 1539..2051.
    EXPECT_EQ(f[1539].pictureDraws, 6u);
    EXPECT_EQ(f[2051].pictureDraws, 6u);

    // Step 3, the logo in three quads from frame 2052; its hold ends at frame 2211,
    // which is the first to answer 1 and the first with the white-out.
    EXPECT_EQ(f[2052].pictureDraws, 3u);
    EXPECT_EQ(f[2052].pictureTexture, logoTextureId);
    EXPECT_EQ(f[2116].pictureColor, greyOf(255));
    for (int32_t k = 1; k <= 2210; k++) {
        ASSERT_EQ(f[k].result, -1) << k;
        ASSERT_EQ(f[k].whiteoutDraws, 0u) << k;
    }
    EXPECT_EQ(f[2211].result, 1);
    EXPECT_EQ(f[2211].whiteoutColor, greyOf(4)); // 1/64 of full
    // The white-out passes full level in frame 2275, while the logo still shows.
    for (int32_t k = 2211; k <= 2275; k++) ASSERT_EQ(f[k].result, 1) << k;
    EXPECT_EQ(f[2274].whiteoutColor, greyOf(255)); // 64/64 is not above 1 yet
    EXPECT_EQ(f[2275].whiteoutColor, greyOf(255));
    EXPECT_EQ(f[2275].pictureDraws, 3u);
    EXPECT_EQ(f[2275].pictureColor, greyOf(4));

    // From frame 2276 the opening is over: nothing of it is drawn, the white-out
    // falls over one second and then stops drawing.
    for (int32_t k = 2276; k <= 2400; k++) {
        ASSERT_EQ(f[k].result, 0) << k;
        ASSERT_EQ(f[k].pictureDraws, 0u) << k;
    }
    EXPECT_EQ(f[2276].whiteoutColor, greyOf(251));
    EXPECT_EQ(f[2339].whiteoutColor, greyOf(0));
    EXPECT_EQ(f[2340].whiteoutDraws, 1u);
    EXPECT_EQ(f[2340].whiteoutColor, greyOf(0));
    for (int32_t k = 2341; k <= 2400; k++) ASSERT_EQ(f[k].whiteoutDraws, 0u) << k;
}

TEST_F(PictureSequenceTest, StatesGeometryAndZoomOfTheText) {
    ASSERT_EQ(frame(tick), -1);
    std::vector<RecordedCall> draws = copyDraws();
    ASSERT_EQ(draws.size(), 10u);
    // The first frame draws at zoom 0.5: corners halfway to the centre (320, 240).
    // Unzoomed the line starts at 320 - 17 * 10 / 2 = 235, rows 228..253.
    for (uint32_t i = 0; i < draws.size(); i++) {
        const RecordedCall& d = draws[i];
        EXPECT_EQ(d.args[0], ptTriangleStrip);
        EXPECT_EQ(d.args[1], 2u);
        EXPECT_EQ(d.stride, 28u);
        EXPECT_EQ(d.state.fvf, fvfScreenQuad);
        EXPECT_EQ(d.state.renderStates[rsCullMode], cullNone);
        EXPECT_EQ(d.state.renderStates[rsZEnable], 0u);
        EXPECT_EQ(d.state.renderStates[rsAlphaBlendEnable], 0u);
        EXPECT_EQ(d.state.stage0[tssAddressU], addressClamp);
        EXPECT_EQ(d.state.texture, glyphTextureId);
        float left = 320.0f + 0.5f * (235.0f + 17.0f * i - 320.0f);
        float right = left + 8.5f;
        const float xs[4] = {left, right, left, right};
        const float ys[4] = {234.0f, 234.0f, 246.5f, 246.5f};
        for (uint32_t v = 0; v < 4; v++) {
            EXPECT_NEAR(vertexFloat(d, v, vxX), xs[v], 1e-4) << i << "/" << v;
            EXPECT_NEAR(vertexFloat(d, v, vxY), ys[v], 1e-4) << i << "/" << v;
            EXPECT_EQ(vertexFloat(d, v, vxZ), 0.5f);
            EXPECT_EQ(vertexFloat(d, v, vxRhw), 0.5f);
        }
    }
    // The baseline is back after the render.
    EXPECT_EQ(recordedState(rsZEnable), 1u);
    EXPECT_EQ(recordedState(rsCullMode), cullClockwise);
    EXPECT_EQ(recordedTextureStageState(0, tssAddressU), addressWrap);

    // The zoom grows by 0.05 per second: 10 s later (frame 641) it is 1.
    for (int32_t k = 2; k <= 640; k++) frame(tick);
    frame(tick);
    draws = copyDraws();
    ASSERT_EQ(draws.size(), 10u);
    EXPECT_NEAR(vertexFloat(draws[0], 0, vxX), 235.0f, 2e-3);
    EXPECT_NEAR(vertexFloat(draws[0], 0, vxY), 228.0f, 2e-3);
    EXPECT_NEAR(vertexFloat(draws[9], 3, vxX), 405.0f, 2e-3);
    EXPECT_NEAR(vertexFloat(draws[9], 3, vxY), 253.0f, 2e-3);

    // The next line starts again at zoom 0.5 (18 characters from x 167).
    for (int32_t k = 642; k <= 1025; k++) frame(tick);
    frame(tick);
    draws = copyDraws();
    ASSERT_EQ(draws.size(), 18u);
    EXPECT_NEAR(vertexFloat(draws[0], 0, vxX), 243.5f, 1e-4);
    EXPECT_NEAR(vertexFloat(draws[17], 3, vxX), 396.5f, 1e-4);
    EXPECT_NEAR(vertexFloat(draws[17], 3, vxY), 246.5f, 1e-4);
}

TEST_F(PictureSequenceTest, ScrambledGlyphsSettleIntoTheLine) {
    const char* line = openingLines[0];
    const int32_t n = int32_t(std::strlen(line));
    ASSERT_EQ(n, 10);
    std::vector<int32_t> expected;
    seedRandom(99);
    for (int32_t i = 0; i < 2 * n + 1; i++) expected.push_back(nextRandom());
    seedRandom(99);

    // Frame 1: per character one number for its scramble time, one for its glyph.
    frame(tick);
    std::vector<RecordedCall> draws = copyDraws();
    ASSERT_EQ(int32_t(draws.size()), n);
    std::vector<int32_t> previous(n);
    for (int32_t i = 0; i < n; i++) {
        Glyph g = glyphRecord(expected[2 * i + 1] & 63);
        const float us[4] = {g.uLeft, g.uRight, g.uLeft, g.uRight};
        const float vs[4] = {g.vTop, g.vTop, g.vBottom, g.vBottom};
        for (uint32_t v = 0; v < 4; v++) {
            EXPECT_EQ(vertexFloat(draws[i], v, vxU), us[v]) << i;
            EXPECT_EQ(vertexFloat(draws[i], v, vxV), vs[v]) << i;
        }
        previous[i] = glyphOfDraw(draws[i]);
    }
    // Frame 2: every change timer is still running, so no number is drawn.
    frame(tick);
    draws = copyDraws();
    for (int32_t i = 0; i < n; i++) EXPECT_EQ(glyphOfDraw(draws[i]), previous[i]) << i;
    EXPECT_EQ(nextRandom(), expected[2 * n]);

    // Follow every character to the end of the line's hold.
    std::vector<std::vector<int32_t>> shown(n, std::vector<int32_t>(3, -1));
    for (int32_t i = 0; i < n; i++) shown[i][1] = shown[i][2] = previous[i];
    for (int32_t k = 3; k <= 900; k++) {
        frame(tick);
        draws = copyDraws();
        for (int32_t i = 0; i < n; i++) shown[i].push_back(glyphOfDraw(draws[i]));
    }
    int32_t earlyChanges = 0, lateChanges = 0;
    for (int32_t i = 0; i < n; i++) {
        const int32_t real = mappedGlyph(line[i]);
        int32_t settled = 900;
        while (settled > 1 && shown[i][settled - 1] == real) settled--;
        // At least 3.5 s of timer counting (224 frames), at most 4.5 s (288) plus
        // the frames spent picking glyphs, which come at most every other frame.
        EXPECT_GE(settled, 226) << i;
        EXPECT_LE(settled, 440) << i;
        EXPECT_EQ(shown[i][900], real);
        // Glyphs change often while a character is far from settling, rarely near it.
        for (int32_t k = 3; k <= 66; k++) earlyChanges += shown[i][k] != shown[i][k - 1];
        for (int32_t k = settled - 64; k < settled; k++) lateChanges += shown[i][k] != shown[i][k - 1];
    }
    EXPECT_GT(earlyChanges, 2 * lateChanges);
    EXPECT_GT(earlyChanges, 10 * n);
}

TEST_F(PictureSequenceTest, LogoIsThreeBandsOfTheTexture) {
    for (int32_t k = 1; k <= 2051; k++) frame(tick);
    ASSERT_EQ(frame(tick), -1);
    std::vector<RecordedCall> draws = copyDraws();
    ASSERT_EQ(draws.size(), 3u);
    for (uint32_t q = 0; q < 3; q++) {
        const RecordedCall& d = draws[q];
        EXPECT_EQ(d.state.texture, logoTextureId);
        EXPECT_EQ(d.state.stage0[tssAddressU], addressClamp);
        EXPECT_EQ(d.state.renderStates[rsZEnable], 0u);
        EXPECT_EQ(d.state.renderStates[rsCullMode], cullNone);
        EXPECT_EQ(d.args[0], ptTriangleStrip);
        const float left = 256.0f * q, right = left + 256.0f;
        const float top = 0.001953125f + 0.27734375f * q;
        const float bottom = 0.279296875f + 0.27734375f * q;
        const float xs[4] = {left, right, left, right};
        const float ys[4] = {204.0f, 204.0f, 277.0f, 277.0f};
        const float us[4] = {0.0f, 1.0f, 0.0f, 1.0f};
        const float vs[4] = {top, top, bottom, bottom};
        for (uint32_t v = 0; v < 4; v++) {
            EXPECT_EQ(vertexFloat(d, v, vxX), xs[v]);
            EXPECT_EQ(vertexFloat(d, v, vxY), ys[v]);
            EXPECT_EQ(vertexFloat(d, v, vxU), us[v]);
            EXPECT_EQ(vertexFloat(d, v, vxV), vs[v]);
            EXPECT_EQ(vertexFloat(d, v, vxZ), 0.5f);
            EXPECT_EQ(vertexFloat(d, v, vxRhw), 0.5f);
            EXPECT_EQ(vertexWord(d, v, vxDiffuse), greyOf(0));
        }
    }
}

TEST_F(PictureSequenceTest, WhiteoutIsAnAdditiveFullScreenQuad) {
    for (int32_t k = 1; k <= 2210; k++) frame(tick);
    ASSERT_EQ(frame(tick), 1);
    std::vector<RecordedCall> draws = copyDraws();
    ASSERT_EQ(draws.size(), 4u); // three logo bands, then the white-out
    const RecordedCall& w = draws[3];
    EXPECT_EQ(w.state.texture, 0u);
    EXPECT_EQ(w.state.fvf, fvfScreenQuad);
    EXPECT_EQ(w.state.renderStates[rsAlphaBlendEnable], 1u);
    EXPECT_EQ(w.state.renderStates[rsSrcBlend], blendOne);
    EXPECT_EQ(w.state.renderStates[rsDestBlend], blendOne);
    EXPECT_EQ(w.state.renderStates[rsZEnable], 0u);
    EXPECT_EQ(w.state.renderStates[rsCullMode], cullNone);
    EXPECT_EQ(w.args[0], ptTriangleStrip);
    const float xs[4] = {0, 640, 0, 640}, ys[4] = {0, 0, 480, 480};
    for (uint32_t v = 0; v < 4; v++) {
        EXPECT_EQ(vertexFloat(w, v, vxX), xs[v]);
        EXPECT_EQ(vertexFloat(w, v, vxY), ys[v]);
        EXPECT_EQ(vertexFloat(w, v, vxZ), 0.5f);
        EXPECT_EQ(vertexFloat(w, v, vxRhw), 0.5f);
        EXPECT_EQ(vertexWord(w, v, vxDiffuse), greyOf(4));
    }
    EXPECT_EQ(recordedState(rsAlphaBlendEnable), 0u);
    EXPECT_EQ(recordedState(rsZEnable), 1u);
    EXPECT_EQ(recordedState(rsCullMode), cullClockwise);

    // A frame of no time changes nothing.
    frame(0.0f);
    EXPECT_EQ(vertexWord(*recordedDraws().back(), 0, vxDiffuse), greyOf(4));
}

TEST_F(PictureSequenceTest, LongFramesNeverDrawWrappedLevels) {
    // Into the venue line's hold, then one frame of 7 s: the timer jumps past the
    // end and the fade-out starts from -1.0625. That level is drawn as black, not
    // as the grey its wrapped colour byte would give.
    for (int32_t k = 1; k <= 1125; k++) frame(tick);
    EXPECT_EQ(summarizedFrame(7.0f).pictureColor, greyOf(255));
    FrameSummary s = summarizedFrame(tick);
    EXPECT_EQ(s.pictureDraws, 18u);
    EXPECT_EQ(s.pictureColor, greyOf(0));
    // The venue line then ends and the country line starts.
    EXPECT_EQ(summarizedFrame(tick).pictureDraws, 6u);

    // Into the logo's hold, then frames of several seconds: the ending starts, the
    // white-out reaches full white at once and the opening is over from the next frame.
    for (int32_t k = 0; k < 512; k++) frame(tick);
    s = summarizedFrame(tick);
    ASSERT_EQ(s.pictureDraws, 3u);
    for (int32_t k = 0; k < 70; k++) ASSERT_EQ(frame(tick), -1); // faded in, holding
    s = summarizedFrame(5.0f);
    EXPECT_EQ(s.result, 1);
    EXPECT_EQ(s.whiteoutColor, greyOf(255));
    s = summarizedFrame(3.0f);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.pictureDraws, 0u);
    EXPECT_EQ(s.whiteoutColor, greyOf(0));
    for (int32_t k = 0; k < 20; k++) {
        s = summarizedFrame(10.0f);
        EXPECT_EQ(s.result, 0);
        EXPECT_EQ(s.pictureDraws + s.whiteoutDraws, 0u);
    }
}

TEST_F(PictureSequenceTest, ResultsKeepTheirOrderWhateverTheFrameLengths) {
    std::mt19937 lengths(2024);
    for (int32_t run = 0; run < 200; run++) {
        shutdownPictureSequence();
        recordReset();
        ASSERT_EQ(initPictureSequence(), 0);
        deviceBeginScene();
        // Frame lengths in whole 1/64 s: mostly short, now and then up to 6 s.
        std::uniform_int_distribution<int32_t> shortFrame(0, 8), longFrame(0, 384);
        std::bernoulli_distribution isLong(run % 2 ? 0.3 : 0.05);
        int32_t phase = -1, frames = 0, zeros = 0;
        uint32_t lastWhiteout = 0;
        while (zeros < 50) {
            ASSERT_LT(++frames, 20000) << "run " << run << " never finished the opening";
            float delta = float(isLong(lengths) ? longFrame(lengths) : shortFrame(lengths)) * tick;
            FrameSummary s = summarizedFrame(delta);
            ASSERT_GE(s.result, -1);
            ASSERT_LE(s.result, 1);
            if (s.result == -1) {
                ASSERT_EQ(phase, -1) << "run " << run << " frame " << frames;
            } else if (s.result == 1) {
                ASSERT_NE(phase, 0) << "run " << run << " frame " << frames;
                ASSERT_EQ(s.pictureTexture, logoTextureId);
                phase = 1;
            } else {
                // The last frame that answered 1 drew the white-out at full level.
                if (phase == 1) {
                    ASSERT_EQ(lastWhiteout, greyOf(255)) << "run " << run;
                }
                ASSERT_NE(phase, -1) << "run " << run << ": 0 must follow 1";
                ASSERT_EQ(s.pictureDraws, 0u);
                phase = 0;
                zeros++;
            }
            lastWhiteout = s.whiteoutColor;
        }
    }
}

} // namespace
