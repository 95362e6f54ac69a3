// The text column on the recording device, with the embedded text and small texts made
// for each case.
#include "effects/text_scroller.h"

#include "app/frame_clock.h"
#include "assets/scroller_assets.h"
#include "tests/effects_support.h"

#include <cstring>
#include <vector>

namespace {

struct Line {
    int32_t halfWidth;
    std::vector<uint8_t> bytes; // none: an empty line
};

std::vector<uint8_t> storedText(const std::vector<Line>& lines) {
    std::vector<uint8_t> text{uint8_t(lines.size()), 0, 0, 0};
    for (const Line& line : lines) {
        const size_t n = line.bytes.size();
        text.insert(text.end(), {uint8_t(n), uint8_t(n >> 8)});
        if (n == 0) continue;
        text.insert(text.end(), {uint8_t(line.halfWidth), uint8_t(line.halfWidth >> 8), 0, 0});
        text.insert(text.end(), line.bytes.begin(), line.bytes.end());
    }
    return text;
}

float glyphU(uint8_t glyph) { // the record's uLeft
    float u;
    std::memcpy(&u, scrollerGlyphRecords + glyph * 20, 4);
    return u;
}

// Indexed triangle-list draws resolve quad q to vertices 6q .. 6q + 5: top-left,
// top-right, bottom-left, bottom-left, top-right, bottom-right.
constexpr uint32_t tl = 0, tr = 1, bl = 2;
float at(const RecordedCall& d, uint32_t quad, uint32_t corner, uint32_t field) {
    return vertexFloat(d, quad * 6 + corner, field);
}
uint32_t alphaAt(const RecordedCall& d, uint32_t quad, uint32_t corner) {
    return vertexWord(d, quad * 6 + corner, vxDiffuse) >> 24;
}

class TextScrollerTest : public ::testing::Test {
  protected:
    void SetUp() override { startScene(); }
    void TearDown() override {
        shutdownTextScroller();
        EXPECT_EQ(recordLiveObjects(), 0u);
        setTextScrollerText(nullptr, 0);
    }
    void useText(const std::vector<Line>& lines) {
        text = storedText(lines);
        setTextScrollerText(text.data(), int32_t(text.size()));
    }
    const RecordedCall* frame(float delta) { // the frame's one draw, or none
        frameDelta = delta;
        recordClearLog();
        renderTextScroller();
        expectBaseline();
        EXPECT_EQ(recordedState(rsCullMode), cullClockwise);
        draws = copyDraws();
        return draws.empty() ? nullptr : &draws[0];
    }
    std::vector<uint8_t> text;
    std::vector<RecordedCall> draws;
};

TEST_F(TextScrollerTest, WindowStartStatesAndFadeBandsContinuousAcrossSlots) {
    std::vector<Line> lines;
    for (uint8_t i = 0; i < 20; i++)
        lines.push_back({6, {i}});
    useText(lines);
    ASSERT_EQ(initTextScroller(), 0);
    const std::vector<uint8_t>& index = recordedIndexBuffer(1)->bytes;
    ASSERT_EQ(index.size(), 49152u);
    for (uint32_t i = 0; i < 6; i++) // quad 4095: 4q, 4q+1, 4q+2, 4q+2, 4q+1, 4q+3
        EXPECT_EQ(index[49140 + 2 * i] | index[49141 + 2 * i] << 8,
                  16380 + (0x312210 >> 4 * i & 15));
    // One indexed draw; the window starts one line below its bottom edge, transparent.
    const RecordedCall* d = frame(34.6875f);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->args, (std::array<uint32_t, 6>{ptTriangleList, 0, 64, 0, 32, 0}));
    EXPECT_TRUE(d->state.fvf == fvfScreenQuad && d->state.stage0[tssAlphaOp] == topModulate);
    expectStates(d->state, {rsCullMode, cullNone, rsZEnable, 0, rsAlphaBlendEnable, 1, rsSrcBlend,
                            blendSrcAlpha, rsDestBlend, blendInvSrcAlpha});
    EXPECT_TRUE(at(*d, 0, tl, vxY) == 418.5f && at(*d, 0, bl, vxY) == 440.0f);
    for (uint32_t v = 0; v < drawnVertexCount(*d); v++)
        ASSERT_EQ(vertexWord(*d, v, vxDiffuse), 0x00FFFFFFu);
    // Risen 346.875 pixels, 10 a second: slot k's top is 10.125 + 21k below the window's.
    d = frame(0.0f);
    const uint32_t edges[17] = {0,   123, 255, 255, 255, 255, 255, 255, 255,
                                255, 255, 255, 255, 255, 255, 132, 0};
    for (uint32_t k = 0; k < 16; k++) {
        EXPECT_EQ(alphaAt(*d, k, tr), edges[k]) << k;
        EXPECT_EQ(alphaAt(*d, k, bl), edges[k + 1]) << k;
        EXPECT_EQ(at(*d, k, bl, vxY), 93.125f + 21.0f * float(k));
    }
    // Over frames of varying length slot 0's top and slot 15's bottom stay transparent
    // and each slot's bottom edge matches the next slot's top edge.
    for (int32_t f = 0; f < 400; f++) {
        d = frame(float(f % 7 + 1) / 64.0f);
        ASSERT_TRUE(d && alphaAt(*d, 0, tl) == 0 && alphaAt(*d, 15, bl) == 0);
        for (uint32_t k = 0; k + 1 < 16; k++)
            ASSERT_EQ(alphaAt(*d, k, bl), alphaAt(*d, k + 1, tl)) << "frame " << f;
    }
}

TEST_F(TextScrollerTest, SpacesWideLinesEmptyLinesAndAShortText) {
    // '#' is 13 pixels wide, 'I' 7: at half scale their advances are ties (6.5, 3.5).
    useText({{250, {2, 0xFF, 40}}, {0, {}}, {500, {2, 0xFF, 40}}, {20, {2}}});
    ASSERT_EQ(initTextScroller(), 0);
    const RecordedCall* d = frame(0.0f);
    // Four lines fill the sixteen slots four times over: 2 + 0 + 2 + 1 quads each time.
    ASSERT_TRUE(d && drawnVertexCount(*d) == 20 * 6);
    // Per quad: left, right, slot (the empty line takes slot 1).
    const float quads[5][3] = {{16.5f, 28.5f, 0},
                               {39.5f, 45.5f, 0},
                               {16.5f, 22.5f, 2},
                               {27.5f, 30.5f, 2},
                               {246.5f, 258.5f, 3}};
    for (uint32_t q = 0; q < 20; q++) {
        const float* e = quads[q % 5];
        EXPECT_TRUE(at(*d, q, bl, vxX) == e[0] && at(*d, q, tr, vxX) == e[1]) << q;
        EXPECT_EQ(at(*d, q, tl, vxU), glyphU(q % 5 % 2 ? 40 : 2)) << q;
        EXPECT_EQ(at(*d, q, tl, vxY), 418.5f + 21.0f * float(4 * (q / 5) + e[2])) << q;
    }
}

TEST_F(TextScrollerTest, LinesEnterOnePerPassAndTheBufferRestartsWhenFull) {
    // 200 glyphs a line: sixteen lines take 3200 quads, so after four more lines have
    // been appended the fifth no longer fits and the window is laid out from quad 0.
    std::vector<Line> lines;
    for (uint8_t i = 0; i < 24; i++)
        lines.push_back({200, std::vector<uint8_t>(200, i)});
    useText(lines);
    ASSERT_EQ(initTextScroller(), 0);
    frame(34.6875f); // slot 0 at 71.625
    frame(6.5f);     // slot 0 at 6.625: three lines leave in the next frame
    const RecordedCall* d = frame(2.125f);
    EXPECT_EQ(d->args, (std::array<uint32_t, 6>{ptTriangleList, 2400, 12800, 3600, 6400, 0}));
    EXPECT_TRUE(at(*d, 0, tl, vxY) == 69.625f && at(*d, 0, tl, vxU) == glyphU(3));
    EXPECT_EQ(at(*d, 3199, tl, vxU), glyphU(18));
    EXPECT_EQ(frame(2.125f)->args[3], 6u * 800u); // line 19 appended at 3800
    d = frame(2.125f);                            // line 20 does not fit
    EXPECT_EQ(d->args, (std::array<uint32_t, 6>{ptTriangleList, 0, 12800, 0, 6400, 0}));
    for (uint32_t k = 0; k < 16; k++)
        EXPECT_EQ(at(*d, 200 * k + 199, tl, vxU), glyphU(uint8_t(5 + k))) << k;
}

TEST_F(TextScrollerTest, RefusedTextsAndEmptyWindows) {
    shutdownTextScroller(); // safe before any init; the embedded text is shown

    ASSERT_EQ(initTextScroller(), 0);
    ASSERT_NE(frame(1.0f), nullptr);
    shutdownTextScroller();
    // Texts it cannot show (no lines, a cut record, sixteen lines too long for the
    // buffer) are refused rather than read past or overflowed.
    for (const std::vector<uint8_t>& bad :
         {std::vector<uint8_t>(4, 0), std::vector<uint8_t>{1, 0, 0, 0, 5, 0, 9, 0, 0, 0, 1},
          storedText(std::vector<Line>(16, Line{10, std::vector<uint8_t>(256, 1)}))}) {
        setTextScrollerText(bad.data(), int32_t(bad.size()));
        EXPECT_EQ(initTextScroller(), -1);
        shutdownTextScroller();
    }
    // A window of empty lines scrolls on without locking or drawing anything.
    useText({{0, {}}, {0, {}}, {0, {}}});
    ASSERT_EQ(initTextScroller(), 0);
    for (float delta : {0.0f, 30.0f, 100.0f}) {
        EXPECT_EQ(frame(delta), nullptr);
        EXPECT_TRUE(recordedCallsOf(CallKind::lockVertexBuffer).empty());
    }
}

} // namespace
