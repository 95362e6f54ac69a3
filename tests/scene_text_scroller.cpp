// The text column on the recording device, with the embedded text and with small
// texts made for each case.
#include "effects/text_scroller.h"

#include "app/frame_clock.h"
#include "assets/scroller_assets.h"
#include "tests/scene_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Line {
    int32_t halfWidth;
    std::vector<uint8_t> bytes; // empty: an empty line
};

std::vector<uint8_t> storedText(const std::vector<Line>& lines) {
    std::vector<uint8_t> text(4);
    const int32_t count = int32_t(lines.size());
    std::memcpy(text.data(), &count, 4);
    for (const Line& line : lines) {
        const uint16_t n = uint16_t(line.bytes.size());
        text.push_back(uint8_t(n));
        text.push_back(uint8_t(n >> 8));
        if (n == 0) continue;
        const uint8_t* half = reinterpret_cast<const uint8_t*>(&line.halfWidth);
        text.insert(text.end(), half, half + 4);
        text.insert(text.end(), line.bytes.begin(), line.bytes.end());
    }
    return text;
}

float glyphFloat(uint8_t glyph, int32_t field) { // 0 uLeft, 1 vTop, 2 uRight, 3 vBottom
    float value;
    std::memcpy(&value, scrollerGlyphRecords + glyph * 20 + field * 4, 4);
    return value;
}

// A triangle-list draw resolves each quad to top-left, top-right, bottom-left,
// bottom-left, top-right, bottom-right.
constexpr uint32_t tl = 0, tr = 1, bl = 2, br = 5;
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
        recordReset();
    }
    void useText(const std::vector<Line>& lines) {
        text = storedText(lines);
        setTextScrollerText(text.data(), int32_t(text.size()));
    }
    // One frame; the single draw it made, or none.
    const RecordedCall* frame(float delta) {
        frameDelta = delta;
        recordClearLog();
        renderTextScroller();
        expectBaseline();
        EXPECT_EQ(recordedState(rsCullMode), cullClockwise);
        draws = copyDraws();
        EXPECT_LE(draws.size(), 1u);
        return draws.empty() ? nullptr : &draws[0];
    }
    std::vector<uint8_t> text;
    std::vector<RecordedCall> draws;
};

TEST_F(TextScrollerTest, EmbeddedTextStartsBelowTheWindowInOneIndexedDraw) {
    ASSERT_EQ(initTextScroller(), 0);
    const RecordedBuffer* indices = recordedIndexBuffer(1);
    ASSERT_NE(indices, nullptr);
    ASSERT_EQ(indices->bytes.size(), 49152u);
    for (uint32_t q : {0u, 1u, 4095u}) {
        uint16_t six[6];
        std::memcpy(six, &indices->bytes[q * 12], 12);
        const uint16_t v = uint16_t(4 * q);
        EXPECT_EQ(std::vector<uint16_t>(six, six + 6),
                  (std::vector<uint16_t>{v, uint16_t(v + 1), uint16_t(v + 2), uint16_t(v + 2),
                                         uint16_t(v + 1), uint16_t(v + 3)}));
    }
    // Glyphs (not spaces) of the first sixteen stored lines.
    uint32_t quads = 0;
    const uint8_t* record = scrollerText + 4;
    for (int32_t line = 0; line < 16; line++) {
        const uint16_t n = uint16_t(record[0] | record[1] << 8);
        for (uint16_t i = 0; i < n; i++)
            quads += record[6 + i] != 0xFF;
        record += n ? 6 + n : 2;
    }

    const RecordedCall* d = frame(1.0f / 64.0f);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->args, (std::array<uint32_t, 6>{ptTriangleList, 0, 4 * quads, 0, 2 * quads, 0}));
    EXPECT_EQ(d->state.fvf, fvfScreenQuad);
    EXPECT_EQ(d->state.streamStride, 28u);
    EXPECT_EQ(d->state.stage0[tssAlphaOp], topModulate);
    EXPECT_EQ(d->state.renderStates[rsCullMode], cullNone);
    EXPECT_EQ(d->state.renderStates[rsZEnable], 0u);
    EXPECT_EQ(d->state.renderStates[rsAlphaBlendEnable], 1u);
    EXPECT_EQ(d->state.renderStates[rsSrcBlend], blendSrcAlpha);
    EXPECT_EQ(d->state.renderStates[rsDestBlend], blendInvSrcAlpha);
    EXPECT_NE(d->state.texture, 0u);
    // The window starts one line below its bottom edge, wholly transparent.
    EXPECT_EQ(at(*d, 0, tl, vxY), 418.5f);
    EXPECT_EQ(at(*d, 0, bl, vxY), 440.0f);
    for (uint32_t v = 0; v < drawnVertexCount(*d); v++) {
        EXPECT_EQ(vertexWord(*d, v, vxDiffuse), 0x00FFFFFFu);
        EXPECT_EQ(vertexFloat(*d, v, vxZ), 1.0f);
        EXPECT_EQ(vertexFloat(*d, v, vxRhw), 1.0f);
    }
    // The text rose 10 pixels a second.
    EXPECT_EQ(at(*frame(0.0f), 0, tl, vxY), 418.5f - 10.0f / 64.0f);
}

TEST_F(TextScrollerTest, FadeBandsAreContinuousAcrossSlots) {
    std::vector<Line> lines;
    for (uint8_t i = 0; i < 20; i++)
        lines.push_back({6, {i}});
    useText(lines);
    ASSERT_EQ(initTextScroller(), 0);
    frame(34.6875f); // 346.875 pixels up: slot k's top is 10.125 + 21k below the window top
    const RecordedCall* d = frame(0.0f);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(drawnVertexCount(*d), 16u * 6u);
    const uint32_t expected[16][2] = {{0, 123},   {123, 255}, {255, 255}, {255, 255},
                                      {255, 255}, {255, 255}, {255, 255}, {255, 255},
                                      {255, 255}, {255, 255}, {255, 255}, {255, 255},
                                      {255, 255}, {255, 255}, {255, 132}, {132, 0}};
    for (uint32_t k = 0; k < 16; k++) {
        EXPECT_EQ(alphaAt(*d, k, tl), expected[k][0]) << k;
        EXPECT_EQ(alphaAt(*d, k, tr), expected[k][0]) << k;
        EXPECT_EQ(alphaAt(*d, k, bl), expected[k][1]) << k;
        EXPECT_EQ(alphaAt(*d, k, br), expected[k][1]) << k;
        EXPECT_EQ(at(*d, k, tl, vxY), 71.625f + 21.0f * float(k));
        EXPECT_EQ(at(*d, k, br, vxY), 71.625f + 21.0f * float(k) + 21.5f);
    }
    // Over many frames of varying length the top of slot 0 stays transparent and
    // each slot's bottom edge matches the next slot's top edge.
    for (int32_t f = 0; f < 400; f++) {
        d = frame(float(f % 7 + 1) / 64.0f);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(alphaAt(*d, 0, tl), 0u);
        EXPECT_EQ(alphaAt(*d, 15, bl), 0u);
        for (uint32_t k = 0; k + 1 < 16; k++)
            ASSERT_EQ(alphaAt(*d, k, bl), alphaAt(*d, k + 1, tl)) << "frame " << f << " slot " << k;
    }
}

TEST_F(TextScrollerTest, SpacesWideLinesEmptyLinesAndAShortText) {
    // '#' is 13 pixels wide, 'I' 7: at half scale their advances are ties (6.5, 3.5).
    useText({{250, {2, 0xFF, 40}}, {0, {}}, {500, {2, 0xFF, 40}}, {20, {2}}});
    ASSERT_EQ(initTextScroller(), 0);
    const RecordedCall* d = frame(0.0f);
    ASSERT_NE(d, nullptr);
    // Four lines fill the sixteen slots four times over: 2 + 0 + 2 + 1 quads each time.
    ASSERT_EQ(drawnVertexCount(*d), 20u * 6u);
    const float left[5] = {16.5f, 39.5f, 16.5f, 27.5f, 246.5f};
    const float right[5] = {28.5f, 45.5f, 22.5f, 30.5f, 258.5f};
    const uint8_t glyph[5] = {2, 40, 2, 40, 2};
    const int32_t slot[5] = {0, 0, 2, 2, 3}; // the empty line takes slot 1
    for (uint32_t cycle = 0; cycle < 4; cycle++) {
        for (uint32_t i = 0; i < 5; i++) {
            const uint32_t q = cycle * 5 + i;
            EXPECT_EQ(at(*d, q, tl, vxX), left[i]) << q;
            EXPECT_EQ(at(*d, q, bl, vxX), left[i]) << q;
            EXPECT_EQ(at(*d, q, tr, vxX), right[i]) << q;
            EXPECT_EQ(at(*d, q, br, vxX), right[i]) << q;
            EXPECT_EQ(at(*d, q, tl, vxU), glyphFloat(glyph[i], 0));
            EXPECT_EQ(at(*d, q, tl, vxV), glyphFloat(glyph[i], 1));
            EXPECT_EQ(at(*d, q, br, vxU), glyphFloat(glyph[i], 2));
            EXPECT_EQ(at(*d, q, br, vxV), glyphFloat(glyph[i], 3));
            EXPECT_EQ(at(*d, q, tl, vxY), 418.5f + 21.0f * float(4 * cycle + slot[i])) << q;
        }
    }
}

TEST_F(TextScrollerTest, LinesEnterOnePerPassAndTheBufferRestartsWhenFull) {
    // 200 glyphs a line: sixteen lines take 3200 quads, so after four more lines
    // have been appended the fifth no longer fits and the window is rebuilt.
    std::vector<Line> lines;
    for (uint8_t i = 0; i < 24; i++)
        lines.push_back({200, std::vector<uint8_t>(200, i)});
    useText(lines);
    ASSERT_EQ(initTextScroller(), 0);
    frame(34.6875f); // slot 0 at 71.625
    frame(6.5f);     // slot 0 at 6.625: three lines have left by the next frame
    const RecordedCall* d = frame(2.125f);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->args,
              (std::array<uint32_t, 6>{ptTriangleList, 4 * 600, 4 * 3200, 6 * 600, 2 * 3200, 0}));
    EXPECT_EQ(at(*d, 0, tl, vxY), 69.625f);
    EXPECT_EQ(at(*d, 0, tl, vxU), glyphFloat(3, 0));
    EXPECT_EQ(at(*d, 3199, tl, vxU), glyphFloat(18, 0));

    // Each 2.125 s frame lets one more line in: 19 appended at 3800, then 20 restarts.
    d = frame(2.125f);
    EXPECT_EQ(d->args[3], 6u * 800u);
    d = frame(2.125f);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->args, (std::array<uint32_t, 6>{ptTriangleList, 0, 4 * 3200, 0, 2 * 3200, 0}));
    for (uint32_t k = 0; k < 16; k++) {
        EXPECT_EQ(at(*d, 200 * k, tl, vxU), glyphFloat(uint8_t(5 + k), 0)) << k;
        EXPECT_EQ(at(*d, 200 * k + 199, br, vxY), at(*d, 200 * k, tl, vxY) + 21.5f);
    }
}

TEST_F(TextScrollerTest, FailuresAndEmptyWindows) {
    shutdownTextScroller(); // before any init
    for (RecordFault fault :
         {RecordFault::createTexture, RecordFault::createIndexBuffer, RecordFault::lockIndexBuffer,
          RecordFault::createVertexBuffer, RecordFault::lockVertexBuffer}) {
        recordFailNth(fault, 1);
        EXPECT_EQ(initTextScroller(), -1);
        shutdownTextScroller();
        EXPECT_EQ(recordLiveObjects(), 0u);
        recordFailNth(fault, 0);
    }
    // Texts the plugin cannot show are refused rather than read past or looped on.
    const std::vector<uint8_t> noLines(4, 0), truncated = {1, 0, 0, 0, 5, 0, 9, 0, 0, 0, 1};
    std::vector<Line> tooLong(16, Line{10, std::vector<uint8_t>(256, 1)});
    const std::vector<uint8_t> overfull = storedText(tooLong);
    for (const std::vector<uint8_t>* bad : {&noLines, &truncated, &overfull}) {
        setTextScrollerText(bad->data(), int32_t(bad->size()));
        EXPECT_EQ(initTextScroller(), -1);
        shutdownTextScroller();
        EXPECT_EQ(recordLiveObjects(), 0u);
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
