// The background picture on the recording device: six tiles, one texel per pixel,
// and the states it leaves behind.
#include "effects/backdrop.h"

#include "assets/backdrop_assets.h"
#include "tests/scene_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class BackdropTest : public ::testing::Test {
  protected:
    void SetUp() override { startScene(); }
    void TearDown() override {
        shutdownBackdrop();
        EXPECT_EQ(recordLiveObjects(), 0u);
        recordReset();
    }
};

TEST_F(BackdropTest, SixTilesDrawnTexelPerPixel) {
    ASSERT_EQ(initBackdrop(), 0);
    recordClearLog();
    renderBackdrop();
    const std::vector<RecordedCall> draws = copyDraws();
    ASSERT_EQ(draws.size(), 6u);
    for (uint32_t t = 0; t < 6; t++) {
        const RecordedCall& d = draws[t];
        EXPECT_EQ(d.kind, CallKind::drawPrimitiveUP);
        EXPECT_EQ(d.args[0], ptTriangleStrip);
        EXPECT_EQ(d.args[1], 2u);
        EXPECT_EQ(d.stride, 28u);
        ASSERT_EQ(d.data.size(), 112u);
        EXPECT_EQ(std::memcmp(d.data.data(), backdropVertices + 112 * t, 112), 0);
        // The tile holds its picture unchanged, and its quad spans 256 pixels for
        // 256 texels from the tile's corner: one texel per pixel.
        const RecordedTexture* texture = recordedTexture(d.state.texture);
        ASSERT_NE(texture, nullptr);
        EXPECT_EQ(d.state.texture, recordedTextureId(backdropTile(int32_t(t))));
        EXPECT_EQ(texture->width, 256u);
        EXPECT_EQ(texture->format, fmtR5G6B5);
        EXPECT_EQ(std::memcmp(texture->levelBytes[0].data(), backdropTileImages[t], 131072), 0);
        const float x = 256.0f * float(t % 3), y = 256.0f * float(t / 3);
        const float corner[4][4] = {
            {x, y, 0, 0}, {x + 256, y, 1, 0}, {x, y + 256, 0, 1}, {x + 256, y + 256, 1, 1}};
        for (uint32_t v = 0; v < 4; v++) {
            EXPECT_EQ(vertexFloat(d, v, vxX), corner[v][0]);
            EXPECT_EQ(vertexFloat(d, v, vxY), corner[v][1]);
            EXPECT_EQ(vertexFloat(d, v, vxU), corner[v][2]);
            EXPECT_EQ(vertexFloat(d, v, vxV), corner[v][3]);
            EXPECT_EQ(vertexWord(d, v, vxDiffuse), 0xFFFFFFFFu);
        }
        // Point sampling, nothing blended, no depth test: the picture replaces the frame.
        for (uint32_t filter : {tssMagFilter, tssMinFilter, tssMipFilter})
            EXPECT_EQ(d.state.stage0[filter], filterPoint);
        EXPECT_EQ(d.state.renderStates[rsZEnable], 0u);
        EXPECT_EQ(d.state.renderStates[rsAlphaBlendEnable], 0u);
        EXPECT_EQ(d.state.renderStates[rsLighting], 0u);
        EXPECT_EQ(d.state.renderStates[rsCullMode], cullNone);
        EXPECT_EQ(d.state.fvf, fvfScreenQuad);
    }
    expectBaseline();
    EXPECT_EQ(recordedState(rsCullMode), cullNone); // left for the next plugin to set
}

TEST_F(BackdropTest, AFailedUploadStopsInitAndShutdownReleasesWhatWasMade) {
    shutdownBackdrop(); // before any init
    recordFailNth(RecordFault::createTexture, 3);
    EXPECT_EQ(initBackdrop(), -1);
    EXPECT_EQ(recordedCallsOf(CallKind::createTexture).size(), 3u); // no later tile tried
    EXPECT_NE(backdropTile(1), nullptr);
    EXPECT_EQ(backdropTile(3), nullptr);
    shutdownBackdrop();
    shutdownBackdrop();
    EXPECT_EQ(backdropTile(0), nullptr);
    EXPECT_EQ(recordLiveObjects(), 0u);
}

} // namespace
