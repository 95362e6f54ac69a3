// The effects drawn by the OpenGL device into a real 640 x 480 window and read back:
// the white-out's peak, the background texel for pixel and the tube over it. (What the
// other effects hand the device is pinned on the recording device, and the device's
// sampling, blending and stage operations by the device's own read-back tests.)
// Runs inside the private X server.
#include "app/random.h"
#include "assets/backdrop_assets.h"
#include "effects/backdrop.h"
#include "effects/picture_sequence.h"
#include "effects/tube.h"
#include "tests/display_support.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

class EffectsDisplay : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        openDisplay();
        ready = !HasFatalFailure();
    }
    static void TearDownTestSuite() { glDeviceDetach(); }
    void SetUp() override { ASSERT_TRUE(ready); }
    static inline bool ready = false;
};

int32_t brightness(int32_t x, int32_t y) {
    return pixelAt(x, y)[0] + pixelAt(x, y)[1] + pixelAt(x, y)[2];
}

TEST_F(EffectsDisplay, WhiteoutPeak) {
    // Through the opening to the ending's first frame, then one second more: the
    // white-out's peak leaves every pixel white.
    ASSERT_EQ(initPictureSequence(), 0);
    int32_t result = -1;
    for (int32_t k = 0; k < 1000 && result == -1; k++)
        drawFrame(0, 0.125f, [&] {
            if ((result = renderPictureSequence()) != -1) renderWhiteout();
        });
    ASSERT_EQ(result, 1);
    drawFrame(0, 1.0f, [] {
        renderPictureSequence();
        renderWhiteout();
    });
    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](uint8_t v) { return v == 255; }));
    shutdownPictureSequence();
}

TEST_F(EffectsDisplay, BackgroundAndTube) {
    seedRandom(7);
    ASSERT_EQ(initBackdrop(), 0);
    ASSERT_EQ(initTube(), 0);
    // The picture unscaled and exact: every pixel shows its own texel of the tile,
    // converted from 5 and 6 bits; a neighbour's texel or a blend of two is a fault.
    drawFrame(0, 0.0f, [] { renderBackdrop(); });
    const std::vector<uint8_t> backdropOnly = pixels;
    int32_t wrong = 0;
    for (int32_t y = 0; y < 480; y++)
        for (int32_t x = 0; x < 640; x++) {
            const uint8_t* at =
                backdropTileImages[(y / 256) * 3 + x / 256] + ((y % 256) * 256 + x % 256) * 2;
            const int32_t t = at[0] | at[1] << 8;
            const int32_t rgb[3] = {(((t >> 11) & 31) * 255 + 15) / 31,
                                    (((t >> 5) & 63) * 255 + 31) / 63, ((t & 31) * 255 + 15) / 31};
            for (int32_t c = 0; c < 3; c++)
                wrong += std::abs(pixelAt(x, y)[c] - rgb[c]) > 1;
        }
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
    auto onTube = [&](int32_t x, int32_t y) {
        return std::memcmp(&tubeOnly[(y * 640 + x) * 4], &backdropOnly[(y * 640 + x) * 4], 3) != 0;
    };
    int32_t leftChanged = 0, tubePixels = 0, hidden = 0, redShown = 0;
    for (int32_t y = 0; y < 480; y++) {
        int32_t rowTube = 0;
        for (int32_t x = 0; x < 640; x++) {
            if (x < 250) leftChanged += onTube(x, y);
            if (x < 320 || !onTube(x, y)) {
                redShown += x >= 322 && pixelAt(x, y)[0] == 255 && pixelAt(x, y)[1] == 0;
                continue;
            }
            rowTube++;
            hidden += std::memcmp(&tubeOnly[(y * 640 + x) * 4], pixelAt(x, y), 3) != 0;
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
        if (!onTube(x, 240)) continue;
        if (first < 0) first = x;
        last = x;
        brightest = std::max(brightest, brightness(x, 240));
    }
    ASSERT_GE(first, 0);
    EXPECT_GT(brightest, brightness(first + 1, 240) + 60);
    EXPECT_TRUE(last == 639 || brightest > brightness(last - 1, 240) + 60);
    shutdownTube();

    shutdownBackdrop();
}

} // namespace
