// The background picture on the recording device.
#include "effects/backdrop.h"

#include "assets/backdrop_assets.h"
#include "tests/scene_support.h"

#include <cstring>

namespace {

TEST(Backdrop, SixTilesTexelPerPixelAndTheStatesLeftBehind) {
    startScene();
    shutdownBackdrop(); // before any init
    ASSERT_EQ(initBackdrop(), 0);
    recordClearLog();
    renderBackdrop();
    const std::vector<RecordedCall> draws = copyDraws();
    ASSERT_EQ(draws.size(), 6u);
    for (uint32_t t = 0; t < 6; t++) {
        const RecordedCall& d = draws[t];
        EXPECT_EQ(d.args, (std::array<uint32_t, 6>{ptTriangleStrip, 2, 28}));
        // The tile's own picture on its own quad (256 pixels wide and high from the tile's
        // corner, as the asset test checks), point sampled: one texel per pixel.
        ASSERT_EQ(d.data.size(), 112u);
        EXPECT_EQ(std::memcmp(d.data.data(), backdropVertices + 112 * t, 112), 0);
        const RecordedTexture* texture = recordedTexture(d.state.texture);
        EXPECT_EQ(d.state.texture, recordedTextureId(backdropTile(int32_t(t))));
        ASSERT_NE(texture, nullptr);
        EXPECT_TRUE(texture->width == 256 && texture->format == fmtR5G6B5);
        EXPECT_EQ(std::memcmp(texture->levelBytes[0].data(), backdropTileImages[t], 131072), 0);
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
