// The background, the tube and the text column drawn by the OpenGL device into a
// real 640 x 480 window and read back. Runs inside the private X server.
#include "app/random.h"
#include "assets/backdrop_assets.h"
#include "effects/backdrop.h"
#include "effects/text_scroller.h"
#include "effects/tube.h"
#include "tests/display_support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

int32_t brightness(int32_t x, int32_t y) {
    return pixelAt(x, y)[0] + pixelAt(x, y)[1] + pixelAt(x, y)[2];
}

// How far the pixel is from the picture's own texel (converted from 5 and 6 bits to
// 8), the largest channel difference.
int32_t texelDifference(int32_t x, int32_t y) {
    const uint8_t* at =
        backdropTileImages[(y / 256) * 3 + x / 256] + ((y % 256) * 256 + x % 256) * 2;
    const int32_t t = at[0] | at[1] << 8;
    const int32_t rgb[3] = {(((t >> 11) & 31) * 255 + 15) / 31, (((t >> 5) & 63) * 255 + 31) / 63,
                            ((t & 31) * 255 + 15) / 31};
    int32_t worst = 0;
    for (int32_t c = 0; c < 3; c++)
        worst = std::max(worst, std::abs(pixelAt(x, y)[c] - rgb[c]));
    return worst;
}

TEST(SceneDisplay, BackgroundTubeAndTextColumnOnTheRealDevice) {
    openDisplay();
    ASSERT_FALSE(HasFatalFailure());
    seedRandom(7);
    ASSERT_EQ(initBackdrop(), 0);
    ASSERT_EQ(initTube(), 0);

    // The picture unscaled and exact: every pixel shows its own texel of the tile,
    // converted from 5 and 6 bits; a neighbour's texel or a blend of two is a fault.
    drawFrame(0, 0.0f, [] { renderBackdrop(); });
    const std::vector<uint8_t> backdropOnly = pixels;
    int32_t wrong = 0;
    for (int32_t y = 0; y < 480; y++)
        for (int32_t x = 0; x < 640; x++)
            wrong += texelDifference(x, y) > 1;
    EXPECT_EQ(wrong, 0);

    // The tube over it, then a red quad just behind the tube's depth: the quad hides
    // the background but not the tube.
    struct {
        float x, y, z, rhw;
        uint32_t diffuse;
        float u, v;
    } quad[4];
    for (int32_t i = 0; i < 4; i++)
        quad[i] = {i & 1 ? 640.0f : 320.0f, i & 2 ? 480.0f : 0.0f, 0.9995f, 1, 0xFFFF0000u, 0, 0};
    std::vector<uint8_t> tubeOnly;
    for (int32_t pass = 0; pass < 2; pass++) {
        drawFrame(0, 0.0f, [&] {
            renderBackdrop();
            renderTube();
            if (pass == 1) {
                setTexture(0, nullptr);
                setRenderState(rsCullMode, cullNone);
                setVertexShader(fvfScreenQuad);
                drawPrimitiveUP(ptTriangleStrip, 2, quad, 28);
                setRenderState(rsCullMode, cullClockwise);
            }
        });
        if (pass == 0) tubeOnly = pixels;
    }
    int32_t leftChanged = 0, tubePixels = 0, hidden = 0, redShown = 0;
    for (int32_t y = 0; y < 480; y++) {
        int32_t rowTube = 0;
        for (int32_t x = 0; x < 640; x++) {
            const uint8_t* before = &tubeOnly[(y * 640 + x) * 4];
            const bool onTube = std::memcmp(before, &backdropOnly[(y * 640 + x) * 4], 3) != 0;
            if (x < 250) leftChanged += onTube;
            if (x < 320 || !onTube) {
                if (x >= 322 && pixelAt(x, y)[0] == 255 && pixelAt(x, y)[1] == 0) redShown++;
                continue;
            }
            rowTube++;
            hidden += std::memcmp(before, pixelAt(x, y), 3) != 0;
        }
        tubePixels += rowTube;
        EXPECT_GT(rowTube, 20) << "row " << y; // the tube runs off the top and bottom
    }
    EXPECT_EQ(leftChanged, 0); // the tube stays in the right half
    EXPECT_LT(hidden, tubePixels / 100);
    EXPECT_GT(redShown, 320 * 480 / 10);

    // Lighting: across the middle row the band colour is constant, so the shading
    // alone makes the tube's middle brighter than its silhouette, which the light
    // from behind the camera grazes (ambient only).
    pixels = tubeOnly;
    int32_t first = -1, last = -1, brightest = 0;
    for (int32_t x = 320; x < 640; x++) {
        if (std::memcmp(pixelAt(x, 240), &backdropOnly[(240 * 640 + x) * 4], 3) == 0) continue;
        if (first < 0) first = x;
        last = x;
        brightest = std::max(brightest, brightness(x, 240));
    }
    ASSERT_GE(first, 0);
    EXPECT_GT(brightest, brightness(first + 1, 240) + 60);
    if (last < 639) {
        EXPECT_GT(brightest, brightness(last - 1, 240) + 60);
    }
    shutdownTube();

    // The text column: sixteen lines of ten 'H's, risen until slot k's top is at
    // 71.625 + 21k. Its vertex alpha fades from 0 to 123 over slot 0, is full in
    // the middle slots and falls from 132 to 0 over slot 15; nothing shows outside.
    std::vector<uint8_t> text{16, 0, 0, 0};
    for (int32_t i = 0; i < 16; i++)
        text.insert(text.end(), {10, 0, 75, 0, 0, 0, 39, 39, 39, 39, 39, 39, 39, 39, 39, 39});
    setTextScrollerText(text.data(), int32_t(text.size()));
    ASSERT_EQ(initTextScroller(), 0);
    drawFrame(0, 34.6875f, [] { renderTextScroller(); });
    drawFrame(0, 0.0f, [] { renderTextScroller(); });
    int32_t slotMax[16] = {}, outside = 0;
    for (int32_t y = 0; y < 480; y++) {
        for (int32_t x = 0; x < 640; x++) {
            const int32_t level = pixelAt(x, y)[1];
            if (y < 72 || y >= 72 + 16 * 21 || x < 16 || x > 517) {
                outside += level != 0;
                continue;
            }
            int32_t& slot = slotMax[int32_t((float(y) - 71.625f) / 21.0f)];
            slot = std::max(slot, level);
        }
    }
    EXPECT_EQ(outside, 0);
    EXPECT_TRUE(slotMax[0] > 20 && slotMax[0] <= 124) << slotMax[0];
    for (int32_t k = 2; k < 14; k++)
        EXPECT_GE(slotMax[k], 250) << k;
    EXPECT_TRUE(slotMax[15] > 20 && slotMax[15] <= 133) << slotMax[15];
    shutdownTextScroller();
    setTextScrollerText(nullptr, 0);
    shutdownBackdrop();
    glDeviceDetach();
}

} // namespace
