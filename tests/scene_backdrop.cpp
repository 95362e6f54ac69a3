// The background picture on the recording device.
#include "effects/backdrop.h"

#include "assets/backdrop_assets.h"
#include "tests/scene_support.h"

#include <cstring>

namespace {

TEST(Backdrop, SixTilesTexelPerPixelAndTheStatesLeftBehind) {
    startScene();
    shutdownBackdrop(); // before any init
    recordFailNth(RecordFault::createTexture, 3);
    EXPECT_EQ(initBackdrop(), -1);
    EXPECT_EQ(recordedCallsOf(CallKind::createTexture).size(), 3u); // no later tile tried
    shutdownBackdrop();
    EXPECT_EQ(recordLiveObjects(), 0u);

    ASSERT_EQ(initBackdrop(), 0);
    recordClearLog();
    renderBackdrop();
    const std::vector<RecordedCall> draws = copyDraws();
    ASSERT_EQ(draws.size(), 6u);
    for (uint32_t t = 0; t < 6; t++) {
        const RecordedCall& d = draws[t];
        EXPECT_EQ(d.args, (std::array<uint32_t, 6>{ptTriangleStrip, 2, 28}));
        ASSERT_EQ(d.data.size(), 112u);
        EXPECT_EQ(std::memcmp(d.data.data(), backdropVertices + 112 * t, 112), 0);
        // The tile's own picture, 256 texels on a quad 256 pixels wide and high from
        // the tile's corner, point sampled: one texel per pixel.
        const RecordedTexture* texture = recordedTexture(d.state.texture);
        EXPECT_EQ(d.state.texture, recordedTextureId(backdropTile(int32_t(t))));
        ASSERT_NE(texture, nullptr);
        EXPECT_TRUE(texture->width == 256 && texture->format == fmtR5G6B5);
        EXPECT_EQ(std::memcmp(texture->levelBytes[0].data(), backdropTileImages[t], 131072), 0);
        for (uint32_t v = 0; v < 4; v++) // x, y, u, v from the top-left corner on
            EXPECT_TRUE(vertexFloat(d, v, vxX) == float(256 * (t % 3 + (v & 1))) &&
                        vertexFloat(d, v, vxY) == float(256 * (t / 3 + (v >> 1))) &&
                        vertexFloat(d, v, vxU) == float(v & 1) &&
                        vertexFloat(d, v, vxV) == float(v >> 1));
        for (uint32_t filter : {tssMagFilter, tssMinFilter, tssMipFilter})
            EXPECT_EQ(d.state.stage0[filter], filterPoint);
        expectStates(
            d.state,
            {{rsZEnable, 0}, {rsAlphaBlendEnable, 0}, {rsLighting, 0}, {rsCullMode, cullNone}});
    }
    expectBaseline();
    EXPECT_EQ(recordedState(rsCullMode), cullNone); // left for the next render to set
    shutdownBackdrop();
    shutdownBackdrop();
    EXPECT_EQ(backdropTile(0), nullptr);
    EXPECT_EQ(recordLiveObjects(), 0u);
}

} // namespace
